// The setup program's seam on Windows.  Names are UTF-8 inside the program
// and UTF-16 at every system call, so no code page stands in between.
#include <windows.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../sys.h"
#include "../win_args.h"
#include "win_text.h"
#include "wizard.h"

namespace setup::sys {

namespace {

// errno for the last Windows error, for the callers' messages and EXDEV test.
int errno_of(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_INVALID_FUNCTION:  // a file system without hard links
    case ERROR_NOT_SUPPORTED:
      return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

int fail_last() {
  errno = errno_of(GetLastError());
  return -1;
}

// The program's paths use '/' (the system takes both).
std::string forward(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string known_folder(int csidl) {
  wchar_t buf[MAX_PATH];
  if (SHGetFolderPathW(nullptr, csidl, nullptr, 0, buf) != S_OK) return "";
  return forward(utf8(buf));
}

}  // namespace

std::string self_open_name() {
  return self_path();
}

std::string self_path() {
  std::wstring buf(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  buf.resize(n < buf.size() ? n : 0);
  return utf8(buf);
}

const char* uninstaller_name() {
  return "uninstall.exe";
}

bool is_absolute(const std::string& path) {
  return root_length(path) != 0;
}

size_t root_length(const std::string& path) {
  auto sep = [](char c) { return c == '/' || c == '\\'; };
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      sep(path[2]))
    return 3;
  if (path.size() >= 3 && sep(path[0]) && sep(path[1])) {
    // \\server\share\ : the root ends after the share's name.
    size_t server = path.find_first_of("/\\", 2);
    if (server == std::string::npos) return 0;
    size_t share = path.find_first_of("/\\", server + 1);
    return share == std::string::npos ? path.size() : share + 1;
  }
  return 0;
}

std::string home_dir() {
  std::string h = known_folder(CSIDL_PROFILE);
  return h.empty() ? "C:/" : h;
}

std::string current_dir() {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buf);
  return n > 0 && n < MAX_PATH * 4 ? forward(utf8(buf)) : "C:/";
}

std::string temp_dir() {
  wchar_t buf[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  std::string t = n > 0 && n <= MAX_PATH ? forward(utf8(buf)) : "C:/";
  while (t.size() > 3 && t.back() == '/') t.pop_back();
  return t;
}

std::string programs_dir(bool all_users) {
  // A 32-bit installer on 64-bit Windows is given "Program Files (x86)".
  if (all_users) return known_folder(CSIDL_PROGRAM_FILES);
  std::string local = known_folder(CSIDL_LOCAL_APPDATA);
  return local.empty() ? "" : local + "/Programs";
}

std::string start_menu_dir(bool all_users) {
  return known_folder(all_users ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
}

std::string desktop_dir(bool all_users) {
  return known_folder(all_users ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY);
}

std::string native_path(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

int make_dir(const std::string& path, unsigned) {
  return CreateDirectoryW(wide(path).c_str(), nullptr) ? 0 : fail_last();
}

int link_stat(const std::string& path, struct stat* st) {
  return ::stat(path.c_str(), st);
}

bool same_file(const std::string& a, const std::string& b) {
  // Windows' stat has no inode numbers: the volume and file index do it.
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* names[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE h = CreateFileW(wide(*names[i]).c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL ok = GetFileInformationByHandle(h, &info[i]);
    CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

int sync_fd(int fd) {
  return _commit(fd);
}

int sync_data(int fd) {
  return _commit(fd);
}

int rename_replace(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : fail_last();
}

int hard_link(const std::string& from, const std::string& to) {
  return CreateHardLinkW(wide(to).c_str(), wide(from).c_str(), nullptr) ? 0 : fail_last();
}

int copy_file(const std::string& from, const std::string& to) {
  return CopyFileW(wide(from).c_str(), wide(to).c_str(), TRUE) ? 0 : fail_last();
}

int64_t read_at(int fd, void* buf, size_t size, uint64_t offset) {
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
  return _read(fd, buf, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
}

int64_t write_at(int fd, const void* buf, size_t size, uint64_t offset) {
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
  return _write(fd, buf, static_cast<unsigned>(size > 0x40000000 ? 0x40000000 : size));
}

int read_link(const std::string&, std::string*) {
  return -1;  // this program makes no links on Windows
}

int make_temp_file(const std::string& prefix, std::string* path) {
  std::string dir = temp_dir();
  for (int tries = 0; tries < 100; ++tries) {
    char name[64];
    std::snprintf(name, sizeof name, "/%s.%08lx%04x", prefix.c_str(), GetCurrentProcessId(),
                  static_cast<unsigned>(GetTickCount() + tries) & 0xffff);
    std::string p = dir + name;
    HANDLE h = CreateFileW(wide(p).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      *path = p;
      return 0;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return fail_last();
  }
  errno = EEXIST;
  return -1;
}

int try_lock(const std::string& key, std::string* error) {
  // A named mutex per target, owned until the process ends (the system
  // releases it then, even after a crash).
  uint64_t h = 1469598103934665603ull;
  std::string folded = key;
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char c : folded) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\qg-setup-%016llx", static_cast<unsigned long long>(h));
  HANDLE m = CreateMutexW(nullptr, FALSE, name);
  if (!m) {
    *error =
        "cannot take the installation lock (Windows error " + std::to_string(GetLastError()) + ")";
    return -1;
  }
  DWORD w = WaitForSingleObject(m, 0);
  if (w == WAIT_OBJECT_0 || w == WAIT_ABANDONED) return 0;  // kept open on purpose
  CloseHandle(m);
  return 1;
}

int free_bytes(const std::string& path, uint64_t* out) {
  ULARGE_INTEGER avail;
  if (!GetDiskFreeSpaceExW(wide(path).c_str(), &avail, nullptr, nullptr)) return -1;
  *out = avail.QuadPart;
  return 0;
}

namespace {

// One argument quoted for CommandLineToArgvW's rules: backslashes double
// only before a quote.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}

}  // namespace

int run_and_wait(const std::vector<std::string>& argv, const std::string& dir, int* status,
                 std::string* error) {
  if (argv.empty()) return -1;
  std::wstring line;
  for (const std::string& a : argv) line += (line.empty() ? L"" : L" ") + quoted(wide(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring wdir = wide(dir);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      dir.empty() ? nullptr : wdir.c_str(), &si, &pi)) {
    *error = "Windows error " + std::to_string(GetLastError());
    return -1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  *status = static_cast<int>(code);
  return 0;
}

uint32_t os_bits() {
  // A 32-bit program on 64-bit Windows: the system's width counts.
  BOOL wow64 = FALSE;
  bool system64 = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
  return 1u | (system64 ? 8u : 0u);
}

bool is_admin() {
  return IsUserAnAdmin() != FALSE;
}

int run_elevated(int* status, std::string* error) {
  std::wstring file = wide(self_path());
  std::wstring params = wide(command_tail(utf8(GetCommandLineW())));
  params += params.empty() ? L"--elevated" : L" --elevated";
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  sei.lpVerb = L"runas";
  sei.lpFile = file.c_str();
  sei.lpParameters = params.c_str();
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei)) {
    DWORD e = GetLastError();
    if (e == ERROR_CANCELLED) return 1;
    *error = "the system refused to start it (error " + std::to_string(e) + ")";
    return -1;
  }
  if (!sei.hProcess) {
    *error = "the system started it without a handle to wait for";
    return -1;
  }
  WaitForSingleObject(sei.hProcess, INFINITE);
  DWORD code = 0;
  BOOL got = GetExitCodeProcess(sei.hProcess, &code);
  CloseHandle(sei.hProcess);
  if (!got) {
    *error = "its exit status cannot be read";
    return -1;
  }
  *status = static_cast<int>(code);
  return 0;
}

int32_t log_handle(int fd) {
  if (fd < 0) return 0;
  // Kernel handles fit in 32 bits, also in 64-bit processes.
  return static_cast<int32_t>(_get_osfhandle(fd));
}

int arguments(int, char**, std::vector<std::string>* out, std::string* error) {
  // The raw line: /D= takes its folder from it unsplit (blanks and all).
  return windows_arguments(utf8(GetCommandLineW()), out, error);
}

void attach_console() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out && out != INVALID_HANDLE_VALUE) return;  // inherited (redirected, or a Unix shell)
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  int fd = _open("CONOUT$", _O_WRONLY | _O_BINARY);
  if (fd < 0) return;
  _dup2(fd, 1);
  _dup2(fd, 2);
  if (fd > 2) _close(fd);
}

bool has_console() {
  // The C library's descriptor 1, which attach_console() may have connected:
  // a write of nothing proves nothing (it succeeds on a missing handle).
  intptr_t h = _get_osfhandle(1);
  if (h == -1 || h == -2 || h == 0) return false;
  return GetFileType(reinterpret_cast<HANDLE>(h)) != FILE_TYPE_UNKNOWN;
}

void show_output(const std::string& text, bool silent) {
  if (has_console()) {
    _write(1, text.data(), static_cast<unsigned>(text.size()));
    return;
  }
  // Not a message box: one as tall as the help would not fit on a screen.
  if (!silent && !wizard::output_page(text))
    MessageBoxW(nullptr, wide(text).c_str(), L"qg-setup", MB_OK | MB_ICONINFORMATION);
}

bool progress_fd_offered() {
  return false;
}

std::string help_notes() {
  return "\n"
         "Windows switches (case-insensitive, '/' or '-'):\n"
         "  /S, /SILENT           --silent\n"
         "  /VERYSILENT           --silent --quiet: no window, no box at all\n"
         "  /D=DIR                --target DIR (quoted or not; read from the whole line)\n"
         "  /LOG=FILE             --log FILE\n"
         "  /NORUN                --no-run\n"
         "  /PASSWORDFILE=FILE    --password-file FILE\n"
         "  /UNINSTALL            --uninstall\n"
         "  /?                    --help\n"
         "--progress-fd is not offered on Windows.\n"
#ifdef QGSETUP_NO_ED25519
         "This build does not check Ed25519 signatures: it relies on the file's\n"
         "Authenticode signature alone, and --require-key is refused.\n"
#else
         "The Ed25519 signature is checked as on Linux: --require-key refuses an\n"
         "unsigned file, another key or a bad signature (status 11).\n"
#endif
         "Without elevation the default folder is %LOCALAPPDATA%\\Programs\\PRODUCT.\n"
         "cmd.exe does not wait for a windowed program: use\n"
         "\"start /wait setup.exe ...\" there to see the exit status.\n";
}

bool can_remove_running_program() {
  return false;
}

namespace {

constexpr const char* kHelperSwitch = "--qg-setup-remove-after";

}  // namespace

int remove_after_exit(const std::string& program, const std::vector<std::string>& dirs) {
  // A name no other copy has: the system reuses process ids at once, and
  // an earlier uninstaller's copy may still be running under its name.
  std::string copy;
  for (unsigned attempt = 0;; ++attempt) {
    if (attempt == 100) return -1;
    char name[96];
    std::snprintf(name, sizeof name, "/qg-setup-uninstall-%lu-%llu-%u.exe", GetCurrentProcessId(),
                  static_cast<unsigned long long>(GetTickCount64()), attempt);
    copy = temp_dir() + name;
    if (CopyFileW(wide(program).c_str(), wide(copy).c_str(), TRUE)) break;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return -1;
  }
  // The copy is opened delete-on-close and the handle handed down: the
  // system removes the file once the copy has ended and the handle closed.
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE self_delete = CreateFileW(wide(copy).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   &sa, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  std::vector<std::string> argv = {copy, kHelperSwitch, std::to_string(GetCurrentProcessId()),
                                   program};
  argv.insert(argv.end(), dirs.begin(), dirs.end());
  std::wstring line;
  for (const std::string& a : argv) line += (line.empty() ? L"" : L" ") + quoted(wide(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring wcopy = wide(copy), wtemp = wide(temp_dir());
  BOOL started = CreateProcessW(wcopy.c_str(), line.data(), nullptr, nullptr, TRUE,
                                CREATE_NO_WINDOW, nullptr, wtemp.c_str(), &si, &pi);
  if (self_delete != INVALID_HANDLE_VALUE) CloseHandle(self_delete);
  if (!started) {
    DeleteFileW(wcopy.c_str());
    return -1;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}

bool run_helper(const std::vector<std::string>& args, int* status) {
  if (args.size() < 2 || args[0] != kHelperSwitch) return false;
  DWORD pid = static_cast<DWORD>(std::strtoul(args[1].c_str(), nullptr, 10));
  if (HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
    WaitForSingleObject(p, 60000);
    CloseHandle(p);
  }
  *status = 0;
  if (args.size() < 3) return true;
  std::wstring program = wide(args[2]);
  // The image may stay mapped a moment after its process ended.
  for (int tries = 0;
       tries < 50 && !DeleteFileW(program.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND;
       ++tries)
    Sleep(100);
  // The program's folder empties only once the system has let go of the
  // deleted image (it may still be pending deletion a moment); the folders
  // above it are removed only when empty, without waiting.
  for (size_t i = 3; i < args.size(); ++i) {
    std::wstring dir = wide(args[i]);
    for (int tries = 0; tries < (i == 3 ? 50 : 1); ++tries) {
      if (RemoveDirectoryW(dir.c_str()) || GetLastError() != ERROR_DIR_NOT_EMPTY) break;
      Sleep(100);
    }
  }
  if (GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES) *status = 1;
  return true;
}

int64_t now_ms() {
  return static_cast<int64_t>(GetTickCount64());
}

void sleep_ms(unsigned ms) {
  Sleep(ms);
}

bool local_time(time_t t, struct tm* out) {
  return localtime_s(out, &t) == 0;
}

bool stderr_is_terminal() {
  return false;  // the console, when attached, gets plain lines
}

bool box_yes_no(const std::string& question, bool default_yes, bool* yes) {
  if (wizard::active()) return wizard::yes_no(question, default_yes, yes);
  UINT style = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | (default_yes ? 0 : MB_DEFBUTTON2);
  int r = MessageBoxW(nullptr, wide(question).c_str(), L"Setup", style);
  if (r != IDYES && r != IDNO) return false;
  *yes = r == IDYES;
  return true;
}

bool box_text(const std::string& title, const std::string& text) {
  if (wizard::active()) return wizard::text_page(title, text);
  // A message box shows a licence of ordinary length whole; longer texts
  // are cut with a note (the wizard's licence page scrolls).
  std::string shown_text = text.size() > 6000 ? text.substr(0, 6000) + "\n[...]" : text;
  std::wstring body;
  for (wchar_t c : wide(title + "\n\n" + shown_text)) {
    if (c == L'\n' && (body.empty() || body.back() != L'\r')) body += L'\r';
    body += c;
  }
  return MessageBoxW(nullptr, body.c_str(), L"Setup", MB_OKCANCEL | MB_SETFOREGROUND) == IDOK;
}

bool box_line(const std::string& question, const std::string& preset, std::string* out) {
  return wizard::folder_page(question, preset, out);
}

bool box_secret(const std::string& question, std::string* out) {
  return wizard::secret_page(question, out);
}

void window_start(const std::string& title, bool questions) {
  wizard::start(title, questions);
}

void window_progress(const std::string& stage, uint64_t done, uint64_t total) {
  wizard::progress(stage, done, total);
}

void window_status(const std::string& text) {
  wizard::status(text);
}

void window_finish(const std::string& text, bool wait) {
  wizard::finish(text, wait);
}

bool has_terminal() {
  return false;  // questions are asked in boxes, not on a console
}

bool terminal_line(const std::string&, std::string*, bool) {
  return false;
}

}  // namespace setup::sys
