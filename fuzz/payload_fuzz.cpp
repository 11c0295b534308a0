// The installer's payload: any bytes, read as a whole installer file and as a bare container,
// must index without a fault; what is indexed must lie inside the input, rewrite to a container
// that reads back the same, and every accepted name must land inside the extraction folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "setup/EntryName.h"
#include "setup/PayloadFormat.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void checkEntries(setup::ByteSource& source, const std::vector<setup::PayloadEntry>& entries) {
  std::string rewritten = setup::makeContainerHeader(static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    check(!e.name.empty() && e.name.size() <= setup::kMaxEntryName);
    check(e.offset <= source.size() && e.size <= source.size() - e.offset);
    std::string data(static_cast<size_t>(e.size), '\0');
    check(source.readAt(e.offset, data.data(), data.size()));
    rewritten += setup::makeEntryHeader(e.name, e.size) + data;

    std::wstring target;
    if (setup::entryTargetPath(L"/x/folder", e.name, target)) {
      check(target.starts_with(L"/x/folder/") && target.size() > 10);
      check(target.find(L"..") == std::wstring::npos);
    }
    setup::suspiciousNameText(e.name);
  }
  setup::MemorySource again(rewritten);
  std::vector<setup::PayloadEntry> back;
  check(setup::parseContainer(again, 0, rewritten.size(), back));
  check(back.size() == entries.size());
  for (size_t i = 0; i < back.size(); ++i) {
    check(back[i].name == entries[i].name && back[i].size == entries[i].size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  setup::MemorySource source(bytes);

  const setup::PayloadIndex index = setup::indexPayload(source);
  check(index.state == setup::PayloadState::Present || index.entries.empty());
  check(!index.status.empty());
  if (index.state == setup::PayloadState::Present) checkEntries(source, index.entries);

  std::vector<setup::PayloadEntry> entries;
  if (setup::parseContainer(source, 0, size, entries)) checkEntries(source, entries);
  else check(entries.empty());
  return 0;
}
