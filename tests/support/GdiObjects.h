#pragma once
// Windows only: the GDI objects this process holds.

#include <windows.h>

namespace zorvek::test {

// GetGuiResources counts none under Wine, whose handle table answers GetObjectType for a handle
// given by its index alone, so they are counted there.
inline DWORD gdiObjects() {
  if (const DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return n;
  DWORD n = 0;
  for (ULONG_PTR index = 1; index < 0x10000; ++index)
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++n;
  return n;
}

}  // namespace zorvek::test
