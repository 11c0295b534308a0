#include "service/realtime/FilterPort.h"

namespace zorvek::svc {

// No Filter Manager here: the same failure Wine gives, so the service logs the same fallback.
std::unique_ptr<FilterPort> connectFilterPort(const std::wstring&, uint32_t* hresult) {
  if (hresult) *hresult = 0x80004001u;  // E_NOTIMPL
  return nullptr;
}

}  // namespace zorvek::svc
