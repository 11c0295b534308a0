#include "GuiDriver.h"

#include <objidl.h>

#include <gdiplus.h>

#include <cstdio>
#include <cstdlib>

namespace zorvek::test {

Program::~Program() { kill(); }

bool Program::start(const std::wstring& path, const std::wstring& arguments, std::string* error) {
  std::wstring line = L"\"" + path + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    if (error) *error = "CreateProcess failed, win32=" + std::to_string(GetLastError());
    return false;
  }
  CloseHandle(pi.hThread);
  process_.reset(pi.hProcess);
  pid_ = pi.dwProcessId;
  return true;
}

bool Program::waitExit(uint32_t ms, DWORD* code) {
  if (!process_ || WaitForSingleObject(process_.get(), ms) != WAIT_OBJECT_0) return false;
  if (code) GetExitCodeProcess(process_.get(), code);
  return true;
}

void Program::kill() {
  if (!process_) return;
  if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 255);
    WaitForSingleObject(process_.get(), 5000);
  }
  process_.reset();
}

HWND waitForWindow(DWORD pid, const wchar_t* className, uint32_t ms) {
  HWND found = nullptr;
  waitFor(
      [&] {
        for (HWND w = FindWindowExW(nullptr, nullptr, className, nullptr); w;
             w = FindWindowExW(nullptr, w, className, nullptr)) {
          DWORD owner = 0;
          GetWindowThreadProcessId(w, &owner);
          if (owner == pid) {
            found = w;
            return true;
          }
        }
        return false;
      },
      ms);
  return found;
}

COLORREF Image::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return CLR_INVALID;
  const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

namespace {

// A top-down 32-bit DIB section selected into a memory DC, copied out into an Image.
struct Canvas {
  Canvas(int w, int h) : width(w), height(h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    dc.reset(CreateCompatibleDC(nullptr));
    bitmap.reset(CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap) previous = SelectObject(dc.get(), bitmap.get());
  }
  ~Canvas() {
    if (bitmap) SelectObject(dc.get(), previous);
  }
  bool ok() const { return bitmap && bits; }
  Image image() const {
    Image out;
    out.width = width;
    out.height = height;
    const auto* p = static_cast<const uint32_t*>(bits);
    GdiFlush();
    out.pixels.assign(p, p + static_cast<size_t>(width) * static_cast<size_t>(height));
    for (auto& px : out.pixels) px &= 0xFFFFFF;
    return out;
  }
  int width, height;
  UniqueMemoryDc dc;
  UniqueGdiObject<HBITMAP> bitmap;
  void* bits = nullptr;
  HGDIOBJ previous = nullptr;
};

}  // namespace

Image printClient(HWND hwnd) {
  RECT r{};
  if (!GetClientRect(hwnd, &r) || r.right <= 0 || r.bottom <= 0) return {};
  Canvas canvas(r.right, r.bottom);
  if (!canvas.ok()) return {};
  // A colour no page uses: what is left of it was not painted.
  for (int i = 0; i < r.right * r.bottom; ++i) static_cast<uint32_t*>(canvas.bits)[i] = 0x00FF00FF;
  if (!PrintWindow(hwnd, canvas.dc.get(), PW_CLIENTONLY)) return {};
  return canvas.image();
}

Image screenArea(const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return {};
  Canvas canvas(w, h);
  if (!canvas.ok()) return {};
  const HDC screen = GetDC(nullptr);
  const BOOL copied = BitBlt(canvas.dc.get(), 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  return copied ? canvas.image() : Image{};
}

Image screenClient(HWND hwnd) {
  RECT r{};
  if (!GetClientRect(hwnd, &r)) return {};
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return screenArea(r);
}

Image captureClient(HWND hwnd) {
  constexpr COLORREF kUnpainted = RGB(255, 0, 255);
  Image image = printClient(hwnd);
  const RECT all{0, 0, image.width, image.height};
  if (image.empty() || countLike(image, all, kUnpainted, 0) > image.width * image.height / 2) {
    SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(150);
    image = screenClient(hwnd);
  }
  return image;
}

bool keepCapture(const Image& image, const std::string& name, const std::wstring& artifacts) {
  const std::wstring file = std::wstring(name.begin(), name.end()) + L".png";
  bool ok = savePng(image, artifacts + L"\\" + file);
  wchar_t shots[1024];
  const DWORD n = GetEnvironmentVariableW(L"ZORVEK_SCREENSHOTS", shots, 1024);
  if (n > 0 && n < 1024) ok = savePng(image, std::wstring(shots) + L"\\" + file) && ok;
  return ok;
}

bool savePng(const Image& image, const std::wstring& path) {
  if (image.empty()) return false;
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
  bool ok = false;
  {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    CLSID png{};
    bool found = false;
    if (size && Gdiplus::GetImageEncoders(count, size, codecs) == Gdiplus::Ok)
      for (UINT i = 0; i < count; ++i)
        if (std::wstring(codecs[i].MimeType) == L"image/png") {
          png = codecs[i].Clsid;
          found = true;
        }
    std::vector<uint32_t> argb(image.pixels);
    for (auto& p : argb) p |= 0xFF000000;
    Gdiplus::Bitmap bitmap(image.width, image.height, image.width * 4, PixelFormat32bppARGB,
                           reinterpret_cast<BYTE*>(argb.data()));
    ok = found && bitmap.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
  }
  Gdiplus::GdiplusShutdown(token);
  return ok;
}

bool closeTo(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

std::string describe(COLORREF c) {
  if (c == CLR_INVALID) return "outside the image";
  char text[32];
  std::snprintf(text, sizeof text, "RGB(%d, %d, %d)", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

namespace {

template <typename Match>
int countIn(const Image& image, const RECT& r, Match match) {
  int n = 0;
  for (int y = std::max<int>(0, r.top); y < std::min<int>(image.height, r.bottom); ++y)
    for (int x = std::max<int>(0, r.left); x < std::min<int>(image.width, r.right); ++x)
      if (match(image.at(x, y))) ++n;
  return n;
}

}  // namespace

int countUnlike(const Image& image, const RECT& r, COLORREF background, int tolerance) {
  return countIn(image, r, [&](COLORREF c) { return !closeTo(c, background, tolerance); });
}

int countLike(const Image& image, const RECT& r, COLORREF color, int tolerance) {
  return countIn(image, r, [&](COLORREF c) { return closeTo(c, color, tolerance); });
}

}  // namespace zorvek::test
