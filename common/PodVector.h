#pragma once
// A growable array of trivially copyable rows for tables of millions of digests.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "common/platform/Memory.h"

namespace zorvek::sigdb {

// Growable array of trivially copyable rows. realloc lets a large table grow in place (mremap on
// glibc) instead of holding the old and the new copy at once while loading millions of digests.
template <typename T>
class PodVector {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodVector() = default;
  PodVector(const PodVector&) = delete;
  PodVector& operator=(const PodVector&) = delete;
  PodVector(PodVector&& o) noexcept : p_(o.p_), n_(o.n_), cap_(o.cap_) {
    o.p_ = nullptr, o.n_ = o.cap_ = 0;
  }
  PodVector& operator=(PodVector&& o) noexcept {
    if (this != &o) {
      std::free(p_);
      p_ = o.p_, n_ = o.n_, cap_ = o.cap_;
      o.p_ = nullptr, o.n_ = o.cap_ = 0;
    }
    return *this;
  }
  ~PodVector() { std::free(p_); }

  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T& operator[](size_t i) { return p_[i]; }
  const T& operator[](size_t i) const { return p_[i]; }
  T* begin() { return p_; }
  T* end() { return p_ + n_; }
  const T* begin() const { return p_; }
  const T* end() const { return p_ + n_; }

  void push_back(const T& v) {
    if (n_ == cap_) setCapacity(cap_ ? cap_ * 2 : 64);
    p_[n_++] = v;
  }
  // Zero-filled array of n elements (for hash slots).
  void assignZeroed(size_t n) {
    std::free(p_);
    p_ = static_cast<T*>(std::calloc(n, sizeof(T)));
    if (!p_ && n) throw std::bad_alloc();
    n_ = cap_ = n;
    // Lookups land anywhere in a large table: large pages spare a TLB miss on top of the cache
    // miss, and far fewer page faults while it is filled.
    adviseLargePages(p_, n * sizeof(T));
  }
  void growZeroed(size_t n) {
    if (n <= n_) return;
    setCapacity(n);
    std::memset(static_cast<void*>(p_ + n_), 0, (n - n_) * sizeof(T));
    n_ = n;
  }

 private:
  void setCapacity(size_t cap) {
    void* q = std::realloc(p_, cap * sizeof(T));
    if (!q) throw std::bad_alloc();
    p_ = static_cast<T*>(q);
    cap_ = cap;
    // Large pages here too: a load writes hundreds of megabytes of fresh memory, and one fault
    // per 4 KiB page costs more than the parsing (seen on virtual machines).
    adviseLargePages(p_, cap * sizeof(T));
  }
  T* p_ = nullptr;
  size_t n_ = 0;
  size_t cap_ = 0;
};

}  // namespace zorvek::sigdb
