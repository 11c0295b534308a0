#include "SetupTestUtil.h"

#include "common/platform/win32/Win.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/win32/Handle.h"

namespace setup::test {

std::wstring environmentBlock(const std::wstring& temp,
                              const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
  std::vector<std::pair<std::wstring, std::wstring>> set = {{L"TMP", temp}, {L"TEMP", temp}};
  set.insert(set.end(), extra.begin(), extra.end());
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
    const std::wstring entry = p;
    const std::wstring lower = zorvek::asciiLower(entry);
    bool replaced = false;
    for (const auto& [name, value] : set)
      replaced = replaced || lower.starts_with(zorvek::asciiLower(name) + L"=");
    if (!replaced) block += entry + L'\0';
  }
  FreeEnvironmentStringsW(env);
  for (const auto& [name, value] : set) block += name + L"=" + value + L'\0';
  return block;
}

ProgramRun runProgram(const std::wstring& program, const std::wstring& arguments,
                      const std::wstring& temp,
                      const std::vector<std::pair<std::wstring, std::wstring>>& extra,
                      uint32_t timeoutMs) {
  ProgramRun run;
  const std::wstring outPath = temp + (temp.ends_with(L"\\") ? L"" : L"\\") + L"stdout.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  {
    zorvek::UniqueFile out(CreateFileW(outPath.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       &inherit, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(out);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out.get();
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + program + L"\" " + arguments;
    std::wstring env = environmentBlock(temp, extra);
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, env.data(), nullptr, &si, &pi)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
      return run;
    }
    const zorvek::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    EXPECT_EQ(WaitForSingleObject(process.get(), timeoutMs), WAIT_OBJECT_0);
    DWORD code = 0;
    if (GetExitCodeProcess(process.get(), &code)) run.code = code;
  }
  run.out = zorvek::test::readFile(outPath);
  DeleteFileW(outPath.c_str());
  return run;
}

bool readAccessList(const std::wstring& path, AccessList& list) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &raw) != ERROR_SUCCESS)
    return false;
  const zorvek::UniqueLocal<PSECURITY_DESCRIPTOR> sd(raw);
  auto sidText = [](PSID sid) {
    zorvek::UniqueLocal<wchar_t*> text;
    return sid && ConvertSidToStringSidW(sid, text.put()) ? std::wstring(text.get()) : L"?";
  };
  list = {};
  list.owner = sidText(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd.get(), &control, &revision);
  list.isProtected = control & SE_DACL_PROTECTED;
  if (!dacl) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    list.entries.push_back({sidText(const_cast<DWORD*>(&allowed->SidStart)), allowed->Mask,
                            allowed->Header.AceFlags});
  }
  return true;
}

}  // namespace setup::test
