#pragma once
// The firewall operations over the Windows Firewall COM objects (INetFwPolicy2, INetFwRules,
// INetFwRule). Every object comes from one factory, so tests hand out objects of their own and
// the calling code below runs unchanged against them.

#include <functional>
#include <string>
#include <string_view>

#include "common/platform/win32/Win.h"

#include <netfw.h>

namespace zorvek::fw {

// Creates an object of a class with one of its interfaces, as CoCreateInstance does.
using ObjectFactory = std::function<HRESULT(REFCLSID clsid, REFIID iid, void** object)>;

// CoCreateInstance with an in-process server.
HRESULT createInProcess(REFCLSID clsid, REFIID iid, void** object);
// GetWindowsDirectoryW, or "C:\Windows" when it fails.
std::wstring systemWindowsFolder();

// The operations of Firewall.h; each initialises COM on the calling thread for its own duration
// and releases every object before it returns.
class ComFirewall {
 public:
  explicit ComFirewall(ObjectFactory create = createInProcess,
                       std::wstring windowsFolder = systemWindowsFolder());

  std::string status() const;
  bool setProfile(std::string_view text, std::string* error) const;
  bool setBlockAllInbound(std::string_view text, std::string* error) const;
  bool addProgramRule(std::string_view text, std::string* error) const;
  bool removeZorvekRules(std::string* error) const;

 private:
  template <typename Body>
  bool withPolicy(std::string* error, Body body) const;

  ObjectFactory create_;
  std::wstring windowsFolder_;
};

}  // namespace zorvek::fw
