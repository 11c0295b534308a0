#pragma once

namespace zorvek {
// The product version, as the log, the Hello reply and the installer show it.
inline constexpr char kVersion[] = "1.2.0";
inline constexpr wchar_t kVersionW[] = L"1.2.0";
}  // namespace zorvek
