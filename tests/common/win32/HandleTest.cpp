#include "common/platform/win32/Handle.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "TestUtil.h"

namespace zorvek {
namespace {

// Handles are small integers; 0 is "none". Every close is recorded, so a double close shows.
struct CountingTraits {
  using Handle = int;
  static inline std::vector<int> closed;
  static Handle invalid() { return 0; }
  static void close(Handle h) { closed.push_back(h); }
};
using Counted = UniqueHandle<CountingTraits>;

TEST(UniqueHandleTest, ClosesEachHandleExactlyOnce) {
  const struct {
    const char* what;
    std::function<void()> run;
    std::vector<int> closed;
  } cases[] = {
      {"destructor", [] { Counted a(1); }, {1}},
      {"empty owner", [] { Counted a; }, {}},
      {"move construction", [] {
         Counted a(1);
         Counted b(std::move(a));
         EXPECT_FALSE(a);
         EXPECT_EQ(b.get(), 1);
       }, {1}},
      {"move assignment closes the old target", [] {
         Counted a(1), b(2);
         b = std::move(a);
         EXPECT_EQ(b.get(), 1);
       }, {2, 1}},
      {"self move assignment keeps the handle", [] {
         Counted a(1);
         Counted& alias = a;
         a = std::move(alias);
         EXPECT_EQ(a.get(), 1);
       }, {1}},
      {"reset to another", [] {
         Counted a(1);
         a.reset(2);
         EXPECT_EQ(a.get(), 2);
       }, {1, 2}},
      {"reset to the same handle", [] {
         Counted a(1);
         a.reset(1);
       }, {1}},
      {"reset to none", [] {
         Counted a(1);
         a.reset();
         EXPECT_FALSE(a);
         a.reset();
       }, {1}},
      {"release hands over without closing", [] {
         Counted a(1);
         EXPECT_EQ(a.release(), 1);
         EXPECT_FALSE(a);
       }, {}},
      {"put closes what is held", [] {
         Counted a(1);
         int* out = a.put();
         EXPECT_FALSE(a);
         *out = 3;
         EXPECT_EQ(a.get(), 3);
       }, {1, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CountingTraits::closed.clear();
    c.run();
    EXPECT_EQ(CountingTraits::closed, c.closed);
  }
}

// Wraps a real handle, checks it is usable, lets the owner close it, and (where the system can
// tell safely) checks it is gone.
template <typename Traits>
void expectOwnedAndClosed(typename Traits::Handle raw,
                          const std::function<bool(typename Traits::Handle)>& alive,
                          bool closedIsObservable) {
  ASSERT_NE(raw, Traits::invalid());
  {
    const UniqueHandle<Traits> owner(raw);
    EXPECT_TRUE(alive(owner.get()));
  }
  if (closedIsObservable) {
    EXPECT_FALSE(alive(raw));
  }
}

bool kernelAlive(HANDLE h) {
  DWORD flags = 0;
  return GetHandleInformation(h, &flags) != 0;
}

TEST(UniqueHandleTest, ClosesRealSystemHandles) {
  test::TempDir dir;
  const std::wstring file = dir.file(L"файл.bin");
  test::writeFile(file, "data");
  {
    SCOPED_TRACE("event");
    expectOwnedAndClosed<KernelTraits>(CreateEventW(nullptr, TRUE, FALSE, nullptr), kernelAlive,
                                       true);
  }
  {
    SCOPED_TRACE("file");
    expectOwnedAndClosed<FileTraits>(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
        kernelAlive, true);
  }
  {
    SCOPED_TRACE("registry key");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    expectOwnedAndClosed<RegKeyTraits>(
        key,
        [](HKEY k) {
          DWORD subkeys = 0;
          return RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        },
        true);
  }
  {
    SCOPED_TRACE("brush");
    expectOwnedAndClosed<GdiTraits<HBRUSH>>(
        CreateSolidBrush(RGB(1, 2, 3)), [](HBRUSH b) { return GetObjectType(b) == OBJ_BRUSH; },
        true);
  }
  // A freed find handle or local allocation cannot be probed without touching freed memory.
  {
    SCOPED_TRACE("find handle");
    WIN32_FIND_DATAW data{};
    expectOwnedAndClosed<FindTraits>(
        FindFirstFileW((dir.path().wstring() + L"\\*").c_str(), &data),
        [&](HANDLE h) { return FindNextFileW(h, &data) || GetLastError() == ERROR_NO_MORE_FILES; },
        false);
  }
  {
    SCOPED_TRACE("local allocation");
    expectOwnedAndClosed<LocalTraits<HLOCAL>>(
        LocalAlloc(LMEM_FIXED, 64), [](HLOCAL p) { return LocalSize(p) >= 64; }, false);
  }
}

TEST(UniqueHandleTest, TakesLocalAllocationsThroughOutParameters) {
  UniqueLocal<wchar_t*> text;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
  if (n == 0) GTEST_SKIP() << "FormatMessageW has no text for ERROR_FILE_NOT_FOUND here";
  ASSERT_TRUE(text);
  EXPECT_GT(std::wstring(text.get()).size(), 0u);
}

TEST(UniqueHandleTest, ClosesServiceManagerHandles) {
  const SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) GTEST_SKIP() << "no service control manager (win32=" << GetLastError() << ")";
  expectOwnedAndClosed<ServiceTraits>(
      scm,
      [](SC_HANDLE h) {
        const UniqueServiceHandle service(
            OpenServiceW(h, L"zorvek-no-such-service", SERVICE_QUERY_STATUS));
        return !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
      },
      false);
}

TEST(UniqueHandleTest, ClosesMemoryDcsAndIcons) {
  const HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) GTEST_SKIP() << "no display driver for a memory DC (win32=" << GetLastError() << ")";
  expectOwnedAndClosed<MemoryDcTraits>(dc, [](HDC d) { return GetObjectType(d) == OBJ_MEMDC; },
                                       true);

  const BYTE andMask[32] = {}, xorMask[32] = {};
  const HICON icon = CreateIcon(GetModuleHandleW(nullptr), 16, 16, 1, 1, andMask, xorMask);
  if (!icon) GTEST_SKIP() << "CreateIcon failed (win32=" << GetLastError() << ")";
  expectOwnedAndClosed<IconTraits>(
      icon,
      [](HICON i) {
        ICONINFO info{};
        if (!GetIconInfo(i, &info)) return false;
        // GetIconInfo hands out copies of the icon's bitmaps.
        const UniqueGdiObject<HBITMAP> mask(info.hbmMask), color(info.hbmColor);
        return true;
      },
      true);
}

// A COM object that counts its references and answers for IUnknown only.
class FakeUnknown : public IUnknown {
 public:
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (!IsEqualIID(iid, __uuidof(IUnknown))) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(ComPtrTest, CountsReferences) {
  FakeUnknown object;  // starts with the one reference the test owns
  const struct {
    const char* what;
    std::function<void()> run;
  } cases[] = {
      {"sharing adds a reference", [&] {
         ComPtr<FakeUnknown> p(&object);
         EXPECT_EQ(object.refs, 2u);
       }},
      {"copy", [&] {
         ComPtr<FakeUnknown> p(&object);
         ComPtr<FakeUnknown> q(p);
         ComPtr<FakeUnknown> r;
         r = q;
         EXPECT_EQ(r.get(), &object);
         EXPECT_EQ(object.refs, 4u);
       }},
      {"move", [&] {
         ComPtr<FakeUnknown> p(&object);
         ComPtr<FakeUnknown> q(std::move(p));
         EXPECT_FALSE(p);
         ComPtr<FakeUnknown> r;
         r = std::move(q);
         EXPECT_FALSE(q);
         EXPECT_TRUE(r);
         EXPECT_EQ(object.refs, 2u);
       }},
      {"attach takes over the caller's reference", [&] {
         object.AddRef();
         ComPtr<FakeUnknown> p;
         p.attach(&object);
         EXPECT_EQ(object.refs, 2u);
       }},
      {"detach hands the reference back", [&] {
         ComPtr<FakeUnknown> p(&object);
         FakeUnknown* raw = p.detach();
         EXPECT_FALSE(p);
         EXPECT_EQ(object.refs, 2u);
         raw->Release();
       }},
      {"put releases what is held", [&] {
         ComPtr<FakeUnknown> p(&object);
         FakeUnknown** out = p.put();
         EXPECT_EQ(object.refs, 1u);
         object.AddRef();
         *out = &object;
       }},
      {"as queries another reference", [&] {
         ComPtr<FakeUnknown> p(&object);
         ComPtr<IUnknown> q;
         EXPECT_EQ(p.as(q), S_OK);
         EXPECT_EQ(q.get(), static_cast<IUnknown*>(&object));
         EXPECT_EQ(object.refs, 3u);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.run();
    EXPECT_EQ(object.refs, 1u);
  }
}

TEST(ComPtrTest, FailedQueryLeavesTheTargetEmpty) {
  FakeUnknown object;
  ComPtr<FakeUnknown> p(&object);
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(p.as(factory), E_NOINTERFACE);
  EXPECT_FALSE(factory);
  ComPtr<FakeUnknown> empty;
  ComPtr<IUnknown> q;
  EXPECT_EQ(empty.as(q), E_POINTER);
  p.reset();
  EXPECT_EQ(object.refs, 1u);
}

}  // namespace
}  // namespace zorvek
