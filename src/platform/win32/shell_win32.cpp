// Shell services on Windows: the shell's link object (IShellLinkA and
// IPersistFile), the folder notification and type-library registration.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/shell.h"

namespace rz::plat {

namespace {

// Buffers of 260 16-bit characters with the terminator, as the shell and the
// type-library loader take them.
constexpr int kWidePath = 260;

// The link object between link_begin and link_end.  Only one shortcut is
// made at a time, on the host's thread.
IShellLinkA* g_link = nullptr;
bool g_com_open = false;

// COM is opened for the one shortcut; its result is not consulted (it may
// already be open on this thread), but each successful open is closed.
int32_t win_link_begin() {
  HRESULT opened = ::CoInitialize(nullptr);
  g_com_open = SUCCEEDED(opened);
  void* object = nullptr;
  HRESULT hr =
      ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &object);
  if (hr != S_OK || !object) {
    if (g_com_open) ::CoUninitialize();
    g_com_open = false;
    return hr != S_OK ? static_cast<int32_t>(hr) : static_cast<int32_t>(E_FAIL);
  }
  g_link = static_cast<IShellLinkA*>(object);
  return 0;
}

// The link path goes through the ANSI code page; a path that does not fit
// the 260-character buffer is not saved.
int32_t win_link_save(const ShellLink& link, const char* link_path) {
  if (!g_link || !link_path) return static_cast<int32_t>(E_POINTER);
  g_link->SetPath(link.target);
  if (link.has_hot_key) g_link->SetHotkey(link.hot_key);
  g_link->SetIconLocation(link.icon_path, link.icon_index);
  g_link->SetWorkingDirectory(link.working_dir);
  g_link->SetArguments(link.arguments);
  IPersistFile* file = nullptr;
  HRESULT hr = g_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (hr != S_OK || !file) return hr != S_OK ? static_cast<int32_t>(hr) : E_FAIL;
  WCHAR wide[kWidePath];
  if (::MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, kWidePath) == 0) {
    file->Release();
    return kPathTooLong;
  }
  hr = file->Save(wide, TRUE);
  file->Release();
  return static_cast<int32_t>(hr);
}

void win_link_end() {
  if (g_link) g_link->Release();
  g_link = nullptr;
  if (g_com_open) ::CoUninitialize();
  g_com_open = false;
}

void win_folder_created(const char* path) {
  ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHA, path, nullptr);
}

// Each byte becomes the 16-bit character of the same value, without a code
// page; the caller has refused paths of 260 characters or more.
int32_t win_register_type_library(const char* path) {
  if (!path) return kFileNotFound;
  WCHAR wide[kWidePath];
  int i = 0;
  for (; i < kWidePath - 1 && path[i]; ++i) wide[i] = static_cast<unsigned char>(path[i]);
  wide[i] = 0;
  ITypeLib* library = nullptr;
  HRESULT hr = ::LoadTypeLib(wide, &library);
  if (hr != S_OK) {
    if (library) library->Release();
    return static_cast<int32_t>(hr);
  }
  hr = ::RegisterTypeLib(library, wide, nullptr);
  library->Release();
  return static_cast<int32_t>(hr);
}

const ShellOps kWinShellOps = {win_link_begin, win_link_save, win_link_end, win_folder_created,
                               win_register_type_library};

}  // namespace

const ShellOps& native_shell_ops() {
  return kWinShellOps;
}

}  // namespace rz::plat
