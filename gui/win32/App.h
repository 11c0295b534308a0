#pragma once
// The desktop program's start-up and message loop.

#include <string_view>

#include "common/platform/win32/Win.h"

namespace zorvek::gui {

// Runs the program: returns the quit code, or 1 when the window cannot be created.
int runApp(HINSTANCE instance, std::wstring_view commandLine);

}  // namespace zorvek::gui
