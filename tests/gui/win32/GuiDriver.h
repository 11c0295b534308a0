#pragma once
// Drives a window program of another process the way a user would, for tests on a (virtual)
// display: starts it, finds its windows by class, posts clicks and menu choices, and captures
// what it shows.

#include <cstdint>
#include <string>
#include <vector>

#include "common/platform/win32/Handle.h"

namespace zorvek::test {

// A program started with CreateProcessW, killed on destruction if still running.
class Program {
 public:
  Program() = default;
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool start(const std::wstring& path, const std::wstring& arguments, std::string* error);
  // Waits up to `ms` for the exit; the code, or nothing when still running.
  bool waitExit(uint32_t ms, DWORD* code = nullptr);
  void kill();
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_.get(); }

 private:
  UniqueKernelHandle process_;
  DWORD pid_ = 0;
};

// The first top-level window of `pid` with the class, polled for up to `ms`.
HWND waitForWindow(DWORD pid, const wchar_t* className, uint32_t ms);
// Polls `condition` every 20 ms for up to `ms`.
template <typename Condition>
bool waitFor(Condition condition, uint32_t ms) {
  for (uint32_t waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= ms) return false;
    Sleep(20);
  }
}

// 32-bit pixels of a captured area, top-down, 0x00RRGGBB.
struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  COLORREF at(int x, int y) const;
  bool empty() const { return pixels.empty(); }
};

// The client area as the window paints it, through PrintWindow (the window paints into our
// bitmap). Empty when the window could not be printed.
Image printClient(HWND hwnd);
// The client area as it stands on the screen (the window must be visible and uncovered).
Image screenClient(HWND hwnd);
// A screen rectangle.
Image screenArea(const RECT& r);
// Writes a PNG with GDI+'s encoder.
bool savePng(const Image& image, const std::wstring& path);

// The client area as the program paints it. PrintWindow hands the window our DC; where the
// system cannot lend a DC to another process (Wine), the window is raised and read off the screen.
Image captureClient(HWND hwnd);
// Writes `name`.png into `artifacts` and, when ZORVEK_SCREENSHOTS names a folder, there too.
bool keepCapture(const Image& image, const std::string& name, const std::wstring& artifacts);

// Colours within `tolerance` in each channel.
bool closeTo(COLORREF a, COLORREF b, int tolerance = 6);
std::string describe(COLORREF c);
// Pixels in the rectangle that differ from `background` by more than the tolerance.
int countUnlike(const Image& image, const RECT& r, COLORREF background, int tolerance = 24);
// Pixels in the rectangle near `color`.
int countLike(const Image& image, const RECT& r, COLORREF color, int tolerance = 12);

}  // namespace zorvek::test
