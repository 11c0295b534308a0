#include "common/platform/ClientIdentity.h"

#include <aclapi.h>

#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "common/platform/Pipe.h"
#include "common/platform/win32/FileDetail.h"
#include "common/platform/win32/Handle.h"

namespace zorvek {

struct ClientIdentity::Native {
  UniqueKernelHandle token;  // identification level; none: the client may do nothing
};

namespace {

// The token of the client the calling thread acts for (null: the service's own rights).
thread_local HANDLE tActingToken = nullptr;
// Stands in for a client without a token: every check against it fails.
const HANDLE kNoToken = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

// An identification-level copy: enough to check access with, never to act as the client.
UniqueKernelHandle identificationCopy(HANDLE token) {
  UniqueKernelHandle copy;
  if (!DuplicateTokenEx(token, TOKEN_QUERY, nullptr, SecurityIdentification, TokenImpersonation,
                        copy.put())) {
    copy.reset();
  }
  return copy;
}

}  // namespace

namespace detail {

HANDLE actingClientToken() { return tActingToken; }

bool tokenMayAccess(HANDLE token, HANDLE h, ACCESS_MASK access) {
  if (!token) return true;
  if (token == kNoToken) return false;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(h, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                          DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocal<PSECURITY_DESCRIPTOR> owned(sd);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  alignas(PRIVILEGE_SET) unsigned char privileges[256];
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!AccessCheck(sd, token, access, &mapping, reinterpret_cast<PPRIVILEGE_SET>(privileges),
                   &privilegesSize, &granted, &status)) {
    return false;
  }
  return status && (granted & access) == access;
}

}  // namespace detail

ClientIdentity ClientIdentity::ofPipeClient(const ipc::PipeHandle& client) {
  auto native = std::make_shared<Native>();
  const HANDLE pipe = reinterpret_cast<HANDLE>(client.get());
  if (ImpersonateNamedPipeClient(pipe)) {
    UniqueKernelHandle token;
    const BOOL opened =
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.put());
    RevertToSelf();
    if (opened) native->token = identificationCopy(token.get());
  }
  return ClientIdentity(std::move(native));
}

ClientIdentity ClientIdentity::ofCurrentProcess() {
  auto native = std::make_shared<Native>();
  UniqueKernelHandle token;
  // A thread that impersonates someone acts as that someone.
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, token.put()) ||
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put())) {
    native->token = identificationCopy(token.get());
  }
  return ClientIdentity(std::move(native));
}

ClientIdentity ClientIdentity::ofUser(uint32_t, uint32_t, std::vector<uint32_t>) {
  return ClientIdentity(std::make_shared<Native>());
}

std::string ClientIdentity::describe() const {
  if (!native_) return "the service";
  return native_->token ? "a client" : "an unidentified client";
}

ActingAs::ActingAs(const ClientIdentity& client) {
  savedActing_ = tActingToken;
  const ClientIdentity::Native* who = client.native();
  if (!who) {
    ok_ = true;
    return;
  }
  changed_ = true;
  tActingToken = who->token ? who->token.get() : kNoToken;
  ok_ = static_cast<bool>(who->token);
}

ActingAs::~ActingAs() {
  if (changed_) tActingToken = static_cast<HANDLE>(const_cast<void*>(savedActing_));
}

bool actingClientMayDelete(const Folder& folder, const InputFile& file) {
  const HANDLE token = tActingToken;
  if (!token) return true;
  return detail::tokenMayAccess(token, reinterpret_cast<HANDLE>(file.native()), DELETE) ||
         detail::tokenMayAccess(token, reinterpret_cast<HANDLE>(folder.native()),
                                FILE_DELETE_CHILD);
}

}  // namespace zorvek
