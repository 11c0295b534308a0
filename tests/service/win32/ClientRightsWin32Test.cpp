// The service acting for a client that is not an administrator: the client's token, not the
// service's rights, decides what a scan may read and what a decision may remove.

#include "common/platform/win32/Handle.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <vector>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/ClientIdentity.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "service/FileScanner.h"

namespace zorvek {
namespace {

// Only administrators and the system may touch an object with this access list; no inherited
// entries let anyone else in.
constexpr wchar_t kAdminsOnly[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

bool restrictToAdmins(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    return false;
  }
  const UniqueLocal<PSECURITY_DESCRIPTOR> owned(sd);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return false;
  return SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// This user with the Administrators group turned into a deny-only entry: a standard user.
bool standardUser(ClientIdentity& out, std::string& why) {
  UniqueKernelHandle process;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put())) {
    why = "no process token";
    return false;
  }
  PSID admins = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                0, 0, 0, 0, 0, &admins)) {
    why = "no SID";
    return false;
  }
  BOOL isAdmin = FALSE;
  CheckTokenMembership(nullptr, admins, &isAdmin);
  SID_AND_ATTRIBUTES disable{admins, 0};
  UniqueKernelHandle restricted;
  const BOOL made = CreateRestrictedToken(process.get(), DISABLE_MAX_PRIVILEGE, 1, &disable, 0,
                                          nullptr, 0, nullptr, restricted.put());
  FreeSid(admins);
  if (!isAdmin) {
    why = "the tests do not run as an administrator";
    return false;
  }
  if (!made) {
    why = "restricted tokens cannot be made here";
    return false;
  }
  UniqueKernelHandle impersonation;
  if (!DuplicateTokenEx(restricted.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                        TokenImpersonation, impersonation.put()) ||
      !SetThreadToken(nullptr, impersonation.get())) {
    why = "the restricted token cannot be taken";
    return false;
  }
  out = ClientIdentity::ofCurrentProcess();
  RevertToSelf();
  return true;
}

class ClientRightsWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    closed_ = root() + L"\\closed";
    ASSERT_TRUE(CreateDirectoryW(closed_.c_str(), nullptr));
    test::writeFile(closed_ + L"\\payroll.exe", "secret");
    test::writeFile(root() + L"\\open.exe", "public");
    ASSERT_TRUE(restrictToAdmins(closed_));
    std::string why;
    if (!standardUser(client_, why)) GTEST_SKIP() << why;
    // Wine may keep access lists without checking them: nothing to test then.
    ActingAs acting(client_);
    Folder probe;
    if (probe.open(closed_, Links::Refuse, Folder::Purpose::List))
      GTEST_SKIP() << "access lists are not checked against tokens here";
  }
  std::wstring root() const { return pathToWide(dir_.path()); }

  test::TempDir dir_;
  std::wstring closed_;
  ClientIdentity client_;
};

TEST_F(ClientRightsWin32Test, AScanForAClientReadsOnlyWhatItsTokenMay) {
  FileScanner scanner(nullptr);
  std::vector<std::wstring> closedFolders;
  std::vector<std::wstring> read;
  ScanSummary s;
  {
    ActingAs acting(client_);
    ASSERT_TRUE(acting.ok());
    s = scanner.scan(
        {{root(), true}}, {},
        [&](const FileVerdict& v) {
          if (!countsAsUnreadable(v)) read.push_back(v.fileName);
        },
        [&](const std::wstring& folder, const std::string&) { closedFolders.push_back(folder); });
    InputFile file;
    OpenFailure why = OpenFailure::None;
    EXPECT_FALSE(file.open(closed_ + L"\\payroll.exe", InputFile::Share::ReadOnly, nullptr, &why));
    EXPECT_EQ(why, OpenFailure::AccessDenied);
  }
  EXPECT_EQ(read, std::vector<std::wstring>{L"open.exe"});
  EXPECT_EQ(closedFolders, std::vector<std::wstring>{closed_});
  EXPECT_EQ(s.foldersUnreadable, 1u);
  // The service's own rights still reach it.
  const ScanSummary full = scanner.scan({{root(), true}});
  EXPECT_EQ(full.filesScanned, 2u);
  EXPECT_EQ(full.foldersUnreadable, 0u);
}

TEST_F(ClientRightsWin32Test, AClientMayDeleteOnlyWhatItsTokenMay) {
  struct Case {
    std::wstring folder;
    std::wstring name;
    bool mayDelete;
  };
  const std::vector<Case> cases = {{closed_, L"payroll.exe", false}, {root(), L"open.exe", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.name));
    Folder folder;
    ASSERT_TRUE(folder.open(c.folder, Links::Refuse, Folder::Purpose::Modify));
    InputFile file;
    ASSERT_TRUE(file.openIn(folder, c.name, Links::Refuse, InputFile::Access::Move));
    const ActingAs acting(client_);
    EXPECT_EQ(actingClientMayDelete(folder, file), c.mayDelete);
  }
  // Acting for the service, everything reported may go.
  Folder folder;
  ASSERT_TRUE(folder.open(closed_, Links::Refuse, Folder::Purpose::Modify));
  InputFile file;
  ASSERT_TRUE(file.openIn(folder, L"payroll.exe", Links::Refuse, InputFile::Access::Move));
  EXPECT_TRUE(actingClientMayDelete(folder, file));
}

}  // namespace
}  // namespace zorvek
