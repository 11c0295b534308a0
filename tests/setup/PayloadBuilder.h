#pragma once
// Installer files built in memory for the payload tests.

#include <string>
#include <utility>
#include <vector>

#include "setup/PayloadFormat.h"

namespace setup::test {

using Files = std::vector<std::pair<std::string, std::string>>;  // name, data

inline std::string container(const Files& files, uint32_t version = kContainerVersion) {
  std::string out = makeContainerHeader(static_cast<uint32_t>(files.size()));
  out[4] = static_cast<char>(version);
  for (const auto& [name, data] : files) out += makeEntryHeader(name, data.size()) + data;
  return out;
}

// The image, the container and a trailer that locates it.
inline std::string installer(const std::string& image, const std::string& containerBytes) {
  return image + containerBytes + makeTrailer(image.size(), containerBytes.size());
}

inline std::string installer(const std::string& image, const Files& files) {
  return installer(image, container(files));
}

}  // namespace setup::test
