#include "service/realtime/ChangeRecords.h"

#include <string_view>

#include "common/Text.h"
#include "common/Wire.h"

namespace zorvek::svc {

std::vector<ChangeRecord> parseChangeRecords(std::span<const uint8_t> bytes) {
  constexpr size_t kRecordHeader = 12;
  std::vector<ChangeRecord> out;
  size_t offset = 0;
  while (bytes.size() - offset >= kRecordHeader) {
    ipc::WireReader r(bytes.data() + offset, kRecordHeader);
    const uint32_t next = r.u32();
    const uint32_t action = r.u32();
    const uint32_t nameBytes = r.u32();
    if (nameBytes % 2 != 0 || nameBytes > bytes.size() - offset - kRecordHeader) break;
    std::wstring name = fromUtf16Le(std::string_view(
        reinterpret_cast<const char*>(bytes.data() + offset + kRecordHeader), nameBytes));
    // A NUL would cut the path short where the system reads it: another file would be opened.
    if (!name.empty() && name.find(L'\0') == std::wstring::npos)
      out.push_back({action, std::move(name)});
    // Subtract, so a hostile offset cannot wrap; zero ends the list.
    if (next == 0 || next >= bytes.size() - offset) break;
    offset += next;
  }
  return out;
}

}  // namespace zorvek::svc
