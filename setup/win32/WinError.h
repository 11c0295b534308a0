#pragma once
// Texts of Windows error codes for the setup log.

#include <cstdint>
#include <string>

namespace setup {

// The system's text for the code, one line without the final period; empty when there is none.
std::wstring systemMessage(uint32_t code);

// systemMessage + " (win32=" + code + ")", or "win32=" + code alone.
std::wstring errorText(uint32_t code);

}  // namespace setup
