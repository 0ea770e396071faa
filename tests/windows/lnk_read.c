/* Reads a shortcut back through the shell's own link object (IShellLinkA
 * loaded by IPersistFile, as Explorer reads it) and prints what it holds,
 * one "name=value" line each: path, arguments, dir, description.
 *
 *   lnk_read FILE.lnk
 *
 * Exit status: 0 read, 1 the file could not be loaded, 2 usage. */
#define COBJMACROS
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <stdio.h>

/* Prints one text of the link, or says which call failed: 0 or 1. */
static int print_text(const char* name, HRESULT hr, const char* text) {
  if (FAILED(hr)) {
    fprintf(stderr, "lnk_read: %s: error 0x%08lx\n", name, (unsigned long)hr);
    return 1;
  }
  printf("%s=%s\n", name, text);
  return 0;
}

/* Loads path into link and prints its fields: 0, or 1 (reported). */
static int read_link(IShellLinkA* link, const char* path) {
  IPersistFile* file = NULL;
  WCHAR wide[MAX_PATH];
  char target[MAX_PATH] = "", args[INFOTIPSIZE] = "", dir[MAX_PATH] = "", about[INFOTIPSIZE] = "";
  WIN32_FIND_DATAA found;
  HRESULT hr;
  int bad = 0;
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) {
    fprintf(stderr, "lnk_read: %s: the name is too long\n", path);
    return 1;
  }
  hr = IShellLinkA_QueryInterface(link, &IID_IPersistFile, (void**)&file);
  if (SUCCEEDED(hr)) {
    hr = IPersistFile_Load(file, wide, STGM_READ);
    IPersistFile_Release(file);
  }
  if (FAILED(hr)) {
    fprintf(stderr, "lnk_read: %s: cannot load it (0x%08lx)\n", path, (unsigned long)hr);
    return 1;
  }
  /* The raw path: what the link stores, not a resolved or short form. */
  bad |=
      print_text("path", IShellLinkA_GetPath(link, target, MAX_PATH, &found, SLGP_RAWPATH), target);
  bad |= print_text("arguments", IShellLinkA_GetArguments(link, args, INFOTIPSIZE), args);
  bad |= print_text("dir", IShellLinkA_GetWorkingDirectory(link, dir, MAX_PATH), dir);
  bad |= print_text("description", IShellLinkA_GetDescription(link, about, INFOTIPSIZE), about);
  return bad;
}

int main(int argc, char** argv) {
  IShellLinkA* link = NULL;
  HRESULT hr;
  int rc;
  if (argc != 2) {
    fprintf(stderr, "usage: lnk_read FILE.lnk\n");
    return 2;
  }
  hr = CoInitialize(NULL);
  if (FAILED(hr)) {
    fprintf(stderr, "lnk_read: CoInitialize: 0x%08lx\n", (unsigned long)hr);
    return 1;
  }
  hr = CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkA,
                        (void**)&link);
  if (FAILED(hr)) {
    fprintf(stderr, "lnk_read: no shell link object (0x%08lx)\n", (unsigned long)hr);
    CoUninitialize();
    return 1;
  }
  rc = read_link(link, argv[1]);
  IShellLinkA_Release(link);
  CoUninitialize();
  return rc;
}
