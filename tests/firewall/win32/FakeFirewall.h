#pragma once
// An in-memory Windows Firewall behind fake COM objects (INetFwPolicy2, INetFwRules, INetFwRule,
// IEnumVARIANT), handed out by a factory in place of CoCreateInstance. Every call is logged, any
// call can be made to fail, and every object is counted: one still alive after an operation was
// not released, and a Release on a dead one is counted too (objects are kept until the fake goes).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "service/firewall/platform/win32/ComFirewall.h"

namespace zorvek::fw::test {

struct FakeRule {
  std::wstring name;
  std::wstring description;
  std::wstring application;
  LONG protocol = 6;
  LONG profiles = 0x7FFFFFFF;
  bool enabled = true;
  NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
  bool operator==(const FakeRule&) const = default;
};

class FakeObject;

class FakeFirewall {
 public:
  FakeFirewall();
  ~FakeFirewall();

  // domain, private, public
  bool profiles[3] = {true, true, true};
  std::vector<FakeRule> rules;
  // The enumeration also yields an empty item and an object that is no rule, first.
  bool strayItems = false;

  // Makes calls of `method` fail with hr once `after` of them have succeeded. Methods are named as
  // in the interfaces; the profile calls carry the profile type ("get_FirewallEnabled 2"); object
  // creation is "create NetFwPolicy2" / "create NetFwRule".
  void failOn(const std::string& method, HRESULT hr, int after = 0);
  // The factory hands out successes without an object.
  bool nullObjects = false;

  // Records a call and answers its failure, if one is set.
  HRESULT call(const std::string& method);
  const std::vector<std::string>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }

  ObjectFactory factory();
  ComFirewall firewall();

  // Objects alive (referenced), and Release calls on objects already at zero.
  long liveObjects() const { return live_; }
  long overReleases() const { return overReleases_; }

  // Keeps an object until the fake goes, so a late Release is counted, not a crash.
  template <typename T, typename... Args>
  T* make(Args&&... args);
  void objectDied() { --live_; }
  void overReleased() { ++overReleases_; }

 private:
  struct Failure {
    HRESULT hr;
    int after;
  };
  std::map<std::string, Failure> failures_;
  std::map<std::string, int> counts_;
  std::vector<std::string> calls_;
  std::vector<std::unique_ptr<FakeObject>> objects_;
  long live_ = 0;
  long overReleases_ = 0;
};

// Reference counting shared by the fakes.
class FakeObject {
 public:
  explicit FakeObject(FakeFirewall& fw) : fw_(fw) {}
  virtual ~FakeObject() = default;
  ULONG addRef() { return ++refs_; }
  ULONG release() {
    if (refs_ == 0) {
      fw_.overReleased();
      return 0;
    }
    if (--refs_ == 0) fw_.objectDied();
    return refs_;
  }

 protected:
  FakeFirewall& fw_;
  ULONG refs_ = 1;
};

template <typename T, typename... Args>
T* FakeFirewall::make(Args&&... args) {
  auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
  T* raw = object.get();
  objects_.push_back(std::move(object));
  ++live_;
  return raw;
}

}  // namespace zorvek::fw::test
