#include "service/firewall/platform/win32/ComFirewall.h"

#include <oleauto.h>

#include <new>
#include <vector>

#include "common/Fail.h"
#include "common/Text.h"
#include "common/platform/win32/Handle.h"
#include "service/firewall/Firewall.h"
#include "service/firewall/FirewallRules.h"

namespace zorvek::fw {
namespace {

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (!b_) throw std::bad_alloc();
  }
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return b_; }
  BSTR* put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::wstring str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

struct Variant {
  Variant() { VariantInit(&v); }
  ~Variant() { VariantClear(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT v;
};

// COM on this thread for one operation, undone only when this call set it up (a thread already
// in another apartment keeps it).
class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  HRESULT hr_;
};

uint32_t code(HRESULT hr) { return static_cast<uint32_t>(hr); }

// A call that claims success but hands back no object counts as failed.
HRESULT orNoObject(HRESULT hr, bool gotObject) {
  return SUCCEEDED(hr) && !gotObject ? E_POINTER : hr;
}

// Ends a runaway enumerator; no firewall holds this many rules.
constexpr size_t kMaxRulesVisited = size_t{1} << 20;

// Calls visit(rule) for each rule of the collection; the first failure of the enumeration ends
// it. Items that are not rules are passed over.
template <typename Visit>
HRESULT forEachRule(INetFwRules* rules, Visit visit) {
  ComPtr<IUnknown> unknown;
  HRESULT hr = rules->get__NewEnum(unknown.put());
  if (FAILED(hr = orNoObject(hr, bool(unknown)))) return hr;
  ComPtr<IEnumVARIANT> items;
  hr = unknown.as(items);
  if (FAILED(hr = orNoObject(hr, bool(items)))) return hr;
  for (size_t n = 0; n < kMaxRulesVisited; ++n) {
    Variant item;
    ULONG fetched = 0;
    hr = items->Next(1, &item.v, &fetched);
    if (FAILED(hr)) return hr;
    if (hr != S_OK || fetched != 1) break;
    IUnknown* object = item.v.vt == VT_DISPATCH ? item.v.pdispVal
                       : item.v.vt == VT_UNKNOWN ? item.v.punkVal
                                                 : nullptr;
    ComPtr<INetFwRule> rule;
    if (object && SUCCEEDED(object->QueryInterface(__uuidof(INetFwRule), rule.putVoid())) && rule)
      visit(rule.get());
  }
  return S_OK;
}

// Environment variables in a program path ("%SystemRoot%\..."), expanded; "" when there are
// none or they cannot be expanded.
std::wstring expandEnvironment(const std::wstring& path) {
  if (path.find(L'%') == std::wstring::npos) return {};
  std::wstring out(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n = ExpandEnvironmentStringsW(path.c_str(), out.data(), DWORD(out.size()));
    if (n == 0) return {};
    if (n <= out.size()) {
      out.resize(n - 1);
      return out;
    }
    out.resize(n);
  }
  return {};
}

HRESULT readRule(INetFwRule* rule, RuleFacts& facts) {
  Bstr name, program;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
  HRESULT hr;
  if (FAILED(hr = rule->get_Name(name.put())) ||
      FAILED(hr = rule->get_ApplicationName(program.put())) ||
      FAILED(hr = rule->get_Enabled(&enabled)) || FAILED(hr = rule->get_Action(&action)) ||
      FAILED(hr = rule->get_Direction(&direction)))
    return hr;
  facts.name = name.str();
  facts.program = program.str();
  facts.expandedProgram = expandEnvironment(facts.program);
  facts.enabled = enabled != VARIANT_FALSE;
  facts.action = static_cast<int32_t>(action);
  facts.direction = static_cast<int32_t>(direction);
  return S_OK;
}

HRESULT getRules(INetFwPolicy2* policy, ComPtr<INetFwRules>& rules) {
  const HRESULT hr = policy->get_Rules(rules.put());
  return orNoObject(hr, bool(rules));
}

// Removes every rule whose name `accepts`, after the enumeration has ended.
template <typename Accepts>
bool removeRules(INetFwPolicy2* policy, Accepts accepts, std::string* error) {
  ComPtr<INetFwRules> rules;
  HRESULT hr = getRules(policy, rules);
  if (FAILED(hr)) return fail(error, failureText("не удалось получить набор правил", code(hr)));
  std::vector<std::wstring> names;
  hr = forEachRule(rules.get(), [&](INetFwRule* rule) {
    Bstr name;
    // A rule whose name cannot be read cannot be known to be ours.
    if (SUCCEEDED(rule->get_Name(name.put())) && accepts(name.str())) names.push_back(name.str());
  });
  if (FAILED(hr)) return fail(error, failureText("не удалось перечислить правила", code(hr)));
  // Several rules may share a name; Remove takes one per call and ignores a name that is gone.
  for (const std::wstring& name : names) {
    const Bstr bstr(name);
    hr = rules->Remove(bstr.get());
    if (FAILED(hr))
      return fail(error, failureText("не удалось удалить правило " + toUtf8(name), code(hr)));
  }
  return true;
}

HRESULT buildRule(const ObjectFactory& create, const ProgramRule& programRule, ComPtr<INetFwRule>& rule) {
  HRESULT hr = create(__uuidof(NetFwRule), __uuidof(INetFwRule), rule.putVoid());
  if (FAILED(hr = orNoObject(hr, bool(rule)))) return hr;
  const Bstr name(programRule.name);
  if (FAILED(hr = rule->put_Name(name.get()))) return hr;
  if (!programRule.description.empty()) {
    const Bstr description(programRule.description);
    if (FAILED(hr = rule->put_Description(description.get()))) return hr;
  }
  if (!programRule.application.empty()) {
    const Bstr application(programRule.application);
    if (FAILED(hr = rule->put_ApplicationName(application.get()))) return hr;
  }
  if (FAILED(hr = rule->put_Action(static_cast<NET_FW_ACTION>(programRule.action))) ||
      FAILED(hr = rule->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(programRule.direction))) ||
      FAILED(hr = rule->put_Protocol(kProtocolAny)) ||
      FAILED(hr = rule->put_Enabled(VARIANT_TRUE)) ||
      FAILED(hr = rule->put_Profiles(programRule.profiles)))
    return hr;
  return S_OK;
}

bool addRules(const ObjectFactory& create, INetFwPolicy2* policy,
              const std::vector<ProgramRule>& programRules, std::string* error) {
  ComPtr<INetFwRules> rules;
  HRESULT hr = getRules(policy, rules);
  if (FAILED(hr)) return fail(error, failureText("не удалось получить набор правил", code(hr)));
  for (const ProgramRule& programRule : programRules) {
    ComPtr<INetFwRule> rule;
    if (FAILED(hr = buildRule(create, programRule, rule)))
      return fail(error, failureText("не удалось собрать правило", code(hr)));
    if (FAILED(hr = rules->Add(rule.get())))
      return fail(error, failureText("не удалось добавить правило", code(hr)));
  }
  return true;
}

}  // namespace

HRESULT createInProcess(REFCLSID clsid, REFIID iid, void** object) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

std::wstring systemWindowsFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"C:\\Windows";
  return std::wstring(buffer, n);
}

ComFirewall::ComFirewall(ObjectFactory create, std::wstring windowsFolder)
    : create_(std::move(create)), windowsFolder_(std::move(windowsFolder)) {}

// The frame of every change: COM for the thread, the policy object, and the texts of an
// unavailable firewall and of an unexpected exception.
template <typename Body>
bool ComFirewall::withPolicy(std::string* error, Body body) const {
  try {
    const Apartment apartment;
    ComPtr<INetFwPolicy2> policy;
    HRESULT hr = create_(__uuidof(NetFwPolicy2), __uuidof(INetFwPolicy2), policy.putVoid());
    if (FAILED(hr = orNoObject(hr, bool(policy))))
      return fail(error, failureText(kUnavailable, code(hr)));
    return body(policy.get());
  } catch (...) {
    return fail(error, kInternalError);
  }
}

std::string ComFirewall::status() const {
  try {
    const Apartment apartment;
    ComPtr<INetFwPolicy2> policy;
    HRESULT hr = create_(__uuidof(NetFwPolicy2), __uuidof(INetFwPolicy2), policy.putVoid());
    if (FAILED(hr = orNoObject(hr, bool(policy))))
      return statusErrorLine(failureText(kUnavailable, code(hr)));
    StatusWriter out(windowsFolder_);
    for (size_t i = 0; i < kProfileCount; ++i) {
      VARIANT_BOOL on = VARIANT_FALSE;
      hr = policy->get_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(kProfileTypes[i]), &on);
      if (FAILED(hr))
        out.error(failureText("не удалось прочитать профиль " + std::string(kProfileNames[i]),
                              code(hr)));
      else
        out.profile(i, on != VARIANT_FALSE);
    }
    ComPtr<INetFwRules> rules;
    hr = getRules(policy.get(), rules);
    bool unreadable = false;
    if (SUCCEEDED(hr)) {
      hr = forEachRule(rules.get(), [&](INetFwRule* rule) {
        RuleFacts facts;
        const HRESULT read = readRule(rule, facts);
        if (SUCCEEDED(read)) {
          out.rule(facts);
        } else if (!unreadable) {  // one line for all, however many there are
          unreadable = true;
          out.error(failureText("не удалось прочитать правило", code(read)));
        }
      });
    }
    if (FAILED(hr)) out.error(failureText("не удалось перечислить правила", code(hr)));
    return out.finish();
  } catch (...) {
    return statusErrorLine(kInternalError);
  }
}

bool ComFirewall::setProfile(std::string_view text, std::string* error) const {
  return withPolicy(error, [&](INetFwPolicy2* policy) {
    ProfileChange change;
    if (!parseProfileChange(text, change, error)) return false;
    const HRESULT hr = policy->put_FirewallEnabled(
        static_cast<NET_FW_PROFILE_TYPE2>(kProfileTypes[change.profile]),
        change.enable ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(hr))
      return fail(error, failureText("не удалось изменить состояние профиля", code(hr)));
    return true;
  });
}

bool ComFirewall::setBlockAllInbound(std::string_view text, std::string* error) const {
  return withPolicy(error, [&](INetFwPolicy2* policy) {
    bool on = false;
    if (!parseBlockAllInbound(text, on, error)) return false;
    if (!removeRules(policy, isBlockAllRule, error)) return false;
    if (!on) return true;
    std::vector<ProgramRule> programRules;
    for (size_t i = 0; i < kProfileCount; ++i) programRules.push_back(blockAllRule(i));
    return addRules(create_, policy, programRules, error);
  });
}

bool ComFirewall::addProgramRule(std::string_view text, std::string* error) const {
  return withPolicy(error, [&](INetFwPolicy2* policy) {
    std::vector<ProgramRule> programRules;
    if (!parseProgramRule(text, programRules, error)) return false;
    return addRules(create_, policy, programRules, error);
  });
}

bool ComFirewall::removeZorvekRules(std::string* error) const {
  return withPolicy(error, [&](INetFwPolicy2* policy) {
    return removeRules(policy, isZorvekRule, error);
  });
}

// --- Firewall.h -------------------------------------------------------------------------------

std::string status() { return ComFirewall().status(); }
bool setProfile(std::string_view text, std::string* error) {
  return ComFirewall().setProfile(text, error);
}
bool setBlockAllInbound(std::string_view text, std::string* error) {
  return ComFirewall().setBlockAllInbound(text, error);
}
bool addProgramRule(std::string_view text, std::string* error) {
  return ComFirewall().addProgramRule(text, error);
}
bool removeZorvekRules(std::string* error) { return ComFirewall().removeZorvekRules(error); }

}  // namespace zorvek::fw
