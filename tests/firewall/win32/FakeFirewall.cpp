#include "FakeFirewall.h"

#include <oleauto.h>

namespace zorvek::fw::test {
namespace {

// IDispatch of the fakes: nothing here calls through it.
#define FAKE_DISPATCH                                                                 \
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }   \
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {          \
    return E_NOTIMPL;                                                                 \
  }                                                                                   \
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)     \
      override {                                                                      \
    return E_NOTIMPL;                                                                 \
  }                                                                                   \
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, \
                                   EXCEPINFO*, UINT*) override {                      \
    return E_NOTIMPL;                                                                 \
  }

#define FAKE_UNKNOWN(Interface)                                                        \
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }                       \
  ULONG STDMETHODCALLTYPE Release() override { return release(); }                     \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {          \
    if (!out) return E_POINTER;                                                        \
    *out = nullptr;                                                                    \
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != __uuidof(Interface))     \
      return E_NOINTERFACE;                                                            \
    *out = static_cast<Interface*>(this);                                              \
    addRef();                                                                          \
    return S_OK;                                                                       \
  }

BSTR copy(const std::wstring& s) { return SysAllocStringLen(s.data(), UINT(s.size())); }
std::wstring text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

class Rule final : public FakeObject, public INetFwRule {
 public:
  Rule(FakeFirewall& fw, FakeRule data) : FakeObject(fw), data_(std::move(data)) {}
  FAKE_UNKNOWN(INetFwRule)
  FAKE_DISPATCH

#define FAKE_BSTR(Name, field)                                           \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* out) override {             \
    if (const HRESULT hr = fw_.call("get_" #Name); FAILED(hr)) return hr; \
    *out = data_.field.empty() ? nullptr : copy(data_.field);            \
    return S_OK;                                                         \
  }                                                                      \
  HRESULT STDMETHODCALLTYPE put_##Name(BSTR in) override {               \
    if (const HRESULT hr = fw_.call("put_" #Name); FAILED(hr)) return hr; \
    data_.field = text(in);                                              \
    return S_OK;                                                         \
  }
#define FAKE_VALUE(Name, Type, field, toField, fromField)                \
  HRESULT STDMETHODCALLTYPE get_##Name(Type* out) override {             \
    if (const HRESULT hr = fw_.call("get_" #Name); FAILED(hr)) return hr; \
    *out = fromField;                                                    \
    return S_OK;                                                         \
  }                                                                      \
  HRESULT STDMETHODCALLTYPE put_##Name(Type in) override {               \
    if (const HRESULT hr = fw_.call("put_" #Name); FAILED(hr)) return hr; \
    data_.field = toField;                                               \
    return S_OK;                                                         \
  }

  FAKE_BSTR(Name, name)
  FAKE_BSTR(Description, description)
  FAKE_BSTR(ApplicationName, application)
  FAKE_VALUE(Protocol, LONG, protocol, in, data_.protocol)
  FAKE_VALUE(Profiles, LONG, profiles, in, data_.profiles)
  FAKE_VALUE(Enabled, VARIANT_BOOL, enabled, in != VARIANT_FALSE,
             data_.enabled ? VARIANT_TRUE : VARIANT_FALSE)
  FAKE_VALUE(Action, NET_FW_ACTION, action, in, data_.action)
  FAKE_VALUE(Direction, NET_FW_RULE_DIRECTION, direction, in, data_.direction)

#define FAKE_UNUSED(Name, Type)                                                      \
  HRESULT STDMETHODCALLTYPE get_##Name(Type*) override { return E_NOTIMPL; }         \
  HRESULT STDMETHODCALLTYPE put_##Name(Type) override { return E_NOTIMPL; }
  FAKE_UNUSED(ServiceName, BSTR)
  FAKE_UNUSED(LocalPorts, BSTR)
  FAKE_UNUSED(RemotePorts, BSTR)
  FAKE_UNUSED(LocalAddresses, BSTR)
  FAKE_UNUSED(RemoteAddresses, BSTR)
  FAKE_UNUSED(IcmpTypesAndCodes, BSTR)
  FAKE_UNUSED(Interfaces, VARIANT)
  FAKE_UNUSED(InterfaceTypes, BSTR)
  FAKE_UNUSED(Grouping, BSTR)
  FAKE_UNUSED(EdgeTraversal, VARIANT_BOOL)

 private:
  FakeRule data_;
};

// Something in the collection that is not a rule.
class Stray final : public FakeObject, public IUnknown {
 public:
  explicit Stray(FakeFirewall& fw) : FakeObject(fw) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(this);
    addRef();
    return S_OK;
  }
};

class Enum final : public FakeObject, public IEnumVARIANT {
 public:
  Enum(FakeFirewall& fw, std::vector<FakeRule> rules) : FakeObject(fw), rules_(std::move(rules)) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IEnumVARIANT) return E_NOINTERFACE;
    *out = static_cast<IEnumVARIANT*>(this);
    addRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (const HRESULT hr = fw_.call("Next"); FAILED(hr)) return hr;
    ULONG n = 0;
    for (; n < count; ++n) {
      VariantInit(&items[n]);
      if (fw_.strayItems && stray_ < 2) {
        if (stray_++ == 1) {
          items[n].vt = VT_UNKNOWN;
          items[n].punkVal = fw_.make<Stray>();
        }
        continue;
      }
      if (next_ >= rules_.size()) break;
      items[n].vt = VT_DISPATCH;
      items[n].pdispVal = fw_.make<Rule>(rules_[next_++]);
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 private:
  std::vector<FakeRule> rules_;  // a snapshot, as a live enumerator of a changing list is not
  size_t next_ = 0;
  int stray_ = 0;
};

class Rules final : public FakeObject, public INetFwRules {
 public:
  explicit Rules(FakeFirewall& fw) : FakeObject(fw) {}
  FAKE_UNKNOWN(INetFwRules)
  FAKE_DISPATCH

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = LONG(fw_.rules.size());
    return S_OK;
  }
  // Reads the new rule through its interface, as the platform keeps a copy of it.
  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    if (const HRESULT hr = fw_.call("Add"); FAILED(hr)) return hr;
    FakeRule r;
    BSTR name = nullptr, description = nullptr, application = nullptr;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    rule->get_Name(&name);
    rule->get_Description(&description);
    rule->get_ApplicationName(&application);
    rule->get_Protocol(&r.protocol);
    rule->get_Profiles(&r.profiles);
    rule->get_Enabled(&enabled);
    rule->get_Action(&r.action);
    rule->get_Direction(&r.direction);
    r.name = text(name);
    r.description = text(description);
    r.application = text(application);
    r.enabled = enabled != VARIANT_FALSE;
    SysFreeString(name);
    SysFreeString(description);
    SysFreeString(application);
    fw_.rules.push_back(r);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
    if (const HRESULT hr = fw_.call("Remove"); FAILED(hr)) return hr;
    for (auto it = fw_.rules.begin(); it != fw_.rules.end(); ++it) {
      if (it->name == text(name)) {
        fw_.rules.erase(it);
        break;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(BSTR, INetFwRule**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
    if (const HRESULT hr = fw_.call("get__NewEnum"); FAILED(hr)) return hr;
    *out = fw_.nullObjects ? nullptr : static_cast<IEnumVARIANT*>(fw_.make<Enum>(fw_.rules));
    return S_OK;
  }
};

class Policy final : public FakeObject, public INetFwPolicy2 {
 public:
  explicit Policy(FakeFirewall& fw) : FakeObject(fw) {}
  FAKE_UNKNOWN(INetFwPolicy2)
  FAKE_DISPATCH

  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 type,
                                                VARIANT_BOOL* on) override {
    if (const HRESULT hr = fw_.call("get_FirewallEnabled " + std::to_string(type)); FAILED(hr))
      return hr;
    const int i = index(type);
    if (i < 0) return E_INVALIDARG;
    *on = fw_.profiles[i] ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2 type,
                                                VARIANT_BOOL on) override {
    if (const HRESULT hr = fw_.call("put_FirewallEnabled " + std::to_string(type)); FAILED(hr))
      return hr;
    const int i = index(type);
    if (i < 0) return E_INVALIDARG;
    fw_.profiles[i] = on != VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** out) override {
    if (const HRESULT hr = fw_.call("get_Rules"); FAILED(hr)) return hr;
    *out = fw_.nullObjects ? nullptr : fw_.make<Rules>();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override {
    return E_NOTIMPL;
  }
#define FAKE_PROFILE_FLAG(Name)                                                                \
  HRESULT STDMETHODCALLTYPE get_##Name(NET_FW_PROFILE_TYPE2, VARIANT_BOOL*) override {         \
    return E_NOTIMPL;                                                                          \
  }                                                                                            \
  HRESULT STDMETHODCALLTYPE put_##Name(NET_FW_PROFILE_TYPE2, VARIANT_BOOL) override {          \
    return E_NOTIMPL;                                                                          \
  }
  FAKE_PROFILE_FLAG(BlockAllInboundTraffic)
  FAKE_PROFILE_FLAG(NotificationsDisabled)
  FAKE_PROFILE_FLAG(UnicastResponsesToMulticastBroadcastDisabled)
  HRESULT STDMETHODCALLTYPE get_ServiceRestriction(INetFwServiceRestriction**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2,
                                                     NET_FW_ACTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2, NET_FW_ACTION) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2,
                                                      NET_FW_ACTION*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2,
                                                      NET_FW_ACTION) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_LocalPolicyModifyState(NET_FW_MODIFY_STATE*) override {
    return E_NOTIMPL;
  }

 private:
  static int index(NET_FW_PROFILE_TYPE2 type) {
    switch (type) {
      case NET_FW_PROFILE2_DOMAIN: return 0;
      case NET_FW_PROFILE2_PRIVATE: return 1;
      case NET_FW_PROFILE2_PUBLIC: return 2;
      default: return -1;
    }
  }
};

}  // namespace

FakeFirewall::FakeFirewall() = default;
FakeFirewall::~FakeFirewall() = default;

void FakeFirewall::failOn(const std::string& method, HRESULT hr, int after) {
  failures_[method] = {hr, after};
}

HRESULT FakeFirewall::call(const std::string& method) {
  calls_.push_back(method);
  const auto it = failures_.find(method);
  if (it == failures_.end()) return S_OK;
  return counts_[method]++ < it->second.after ? S_OK : it->second.hr;
}

ObjectFactory FakeFirewall::factory() {
  return [this](REFCLSID clsid, REFIID iid, void** out) -> HRESULT {
    *out = nullptr;
    if (clsid == __uuidof(NetFwPolicy2)) {
      if (const HRESULT hr = call("create NetFwPolicy2"); FAILED(hr)) return hr;
      if (nullObjects) return S_OK;
      Policy* policy = make<Policy>();
      const HRESULT hr = policy->QueryInterface(iid, out);
      policy->Release();
      return hr;
    }
    if (clsid == __uuidof(NetFwRule)) {
      if (const HRESULT hr = call("create NetFwRule"); FAILED(hr)) return hr;
      if (nullObjects) return S_OK;
      Rule* rule = make<Rule>(FakeRule{L"", L"", L"", 6, 0x7FFFFFFF, true, NET_FW_ACTION_ALLOW,
                                       NET_FW_RULE_DIR_IN});
      const HRESULT hr = rule->QueryInterface(iid, out);
      rule->Release();
      return hr;
    }
    return REGDB_E_CLASSNOTREG;
  };
}

ComFirewall FakeFirewall::firewall() { return ComFirewall(factory(), L"C:\\Windows"); }

}  // namespace zorvek::fw::test
