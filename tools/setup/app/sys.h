// The setup program's own operating-system seam: the few things its flow
// needs that POSIX and Windows do differently (the program's own file, path
// rules, durable writes, replacing renames, hard links, the target lock,
// free space, starting a command, terminal questions).  Everything else the
// program does through the C library's portable calls.  Paths are UTF-8,
// with '/' as the separator on both systems (Windows takes it too).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0  // no symbolic links are made or followed by this program there
#endif
#else
#include <unistd.h>
#endif

namespace setup::sys {

// Flags for every open(): not inherited by started commands, and binary.
#ifdef _WIN32
constexpr int kOpenPrivate = _O_NOINHERIT | _O_BINARY;
#else
constexpr int kOpenPrivate = O_CLOEXEC;
#endif

// The name to open this program's own file by (on Linux the kernel's name,
// so the file verified is the file extracted even when renamed meanwhile).
std::string self_open_name();
// This program's file name as the user sees it.
std::string self_path();
// The installed uninstaller's file name ("uninstall" or "uninstall.exe").
const char* uninstaller_name();

// True for "/x" (POSIX) or "C:/x", "C:\x", "//server/share" (Windows).
bool is_absolute(const std::string& path);
// The length of the root of an absolute path ("/" 1, "C:/" 3), 0 if none.
size_t root_length(const std::string& path);
// The user's home folder, the current folder, the folder for temporary files.
std::string home_dir();
std::string current_dir();
std::string temp_dir();
// The folder for programs where the system has one: the user's own, or the
// one for all users ("" on POSIX, where the script names the default folder).
std::string programs_dir(bool all_users = false);
// The folder of program shortcuts (%STARTMENU%: the Start menu's Programs
// folder on Windows, the XDG applications folder elsewhere) and the desktop
// (%DESKTOP%), the user's own or all users' ones.  "" when the system names
// none.
std::string start_menu_dir(bool all_users = false);
std::string desktop_dir(bool all_users = false);
// A path as the system shows it (backslashes on Windows).
std::string native_path(const std::string& path);

// mkdir with a mode (ignored where there are no modes): 0, or -1 and errno.
int make_dir(const std::string& path, unsigned mode);
// lstat where there are links, stat otherwise: 0, or -1 and errno.
int link_stat(const std::string& path, struct stat* st);
// True when both names are one file (not merely equal stat fields).
bool same_file(const std::string& a, const std::string& b);
// Makes a file durable (sync_fd: data and metadata; sync_data: the data
// and what reading it back needs, enough for an append-only journal): 0 or -1.
int sync_fd(int fd);
int sync_data(int fd);
// Renames over an existing target: 0, or -1 and errno (EXDEV across
// volumes).
int rename_replace(const std::string& from, const std::string& to);
// A second name for a file: 0, or -1 and errno (EXDEV when the file system
// cannot, so that the caller copies instead).
int hard_link(const std::string& from, const std::string& to);
// Positioned reads and writes: the bytes done, or -1.
int64_t read_at(int fd, void* buf, size_t size, uint64_t offset);
int64_t write_at(int fd, const void* buf, size_t size, uint64_t offset);
#ifdef _WIN32
// Copies a file to a new name (not replacing one): 0, or -1.
int copy_file(const std::string& from, const std::string& to);
#endif
// The target of a symbolic link: 0, or -1 (not a link, or no links here).
int read_link(const std::string& path, std::string* target);
// Creates a new empty file in temp_dir() under a unique name: 0, or -1.
int make_temp_file(const std::string& prefix, std::string* path);

// One lock per key, held by the process until it ends: 0 taken, 1 held by
// another process, -1 failed (with *error).
int try_lock(const std::string& key, std::string* error);
// Free bytes for an unprivileged user at path: 0, or -1 when unknown.
int free_bytes(const std::string& path, uint64_t* out);
// Starts argv (no shell) in dir and waits: 0 with *status, or -1 with
// *error when it could not be started.
int run_and_wait(const std::vector<std::string>& argv, const std::string& dir, int* status,
                 std::string* error);
// The operating-system bits scripts test with "+<n>os": 1 Windows, 4 Linux,
// 8 a 64-bit system.
uint32_t os_bits();
// True when the installation runs with the administrator's rights.
bool is_admin();
// Starts this program again with the same command line and --elevated,
// asking the system for the administrator's rights, and waits for it: 0
// with its *status, 1 when the user refused, -1 with *error when it could
// not be started (or the system has no such request).
int run_elevated(int* status, std::string* error);
// The handle the library's script log writes to, for a descriptor (-1: none).
int32_t log_handle(int fd);

// The program's arguments without its name: argv on POSIX; on Windows the
// raw command line with its switches translated (win_args.h).  0, or 1
// with *error.
int arguments(int argc, char** argv, std::vector<std::string>* out, std::string* error);
// Connects standard output and error to the console the program was started
// from, where the system gives a windowed program none by itself.
void attach_console();
// True when standard output reaches someone (a console, a pipe, a file).
bool has_console();
// Shows a text the user asked for (--help, --version): on standard output,
// or in a box where there is none (never in a silent run).
void show_output(const std::string& text, bool silent);
// False where --progress-fd is not offered (Windows has no inherited
// descriptor numbers to name).
bool progress_fd_offered();
// Notes for --help that hold on this system only ("" when none).
std::string help_notes();

// True when the running program's file can be removed while it runs.
bool can_remove_running_program();
// Where it cannot: starts a copy in the temporary folder that waits for
// this process to end, then removes program and the folders dirs (in that
// order, each only when empty) and itself.  0, or -1.
int remove_after_exit(const std::string& program, const std::vector<std::string>& dirs);
// The copy's side: true when args ask for it (it then ran; *status set).
bool run_helper(const std::vector<std::string>& args, int* status);

// Monotonic milliseconds, a pause, and local time.
int64_t now_ms();
void sleep_ms(unsigned ms);
bool local_time(time_t t, struct tm* out);
// True when standard error is a terminal (a progress bar is drawn there).
bool stderr_is_terminal();
// True when a terminal can be asked.
bool has_terminal();
// Where questions are asked in boxes (Windows, no terminal): asks a yes/no
// question (true with *yes), or shows a long text with OK and Cancel (true
// when OK).  False where there are no boxes or the box could not be shown.
bool box_yes_no(const std::string& question, bool default_yes, bool* yes);
bool box_text(const std::string& title, const std::string& text);
// Asks for a folder (with a Browse button) where there is a window.
bool box_line(const std::string& question, const std::string& preset, std::string* out);
// Asks for a password (the typed characters hidden) where there is a window.
bool box_secret(const std::string& question, std::string* out);
// The installation's window where there is one (Windows, not /VERYSILENT):
// made with the product's title (questions false: progress only, /S), fed
// with the progress and the last message, and closed with a finish page
// (waiting for Close when wait is set).
void window_start(const std::string& title, bool questions);
void window_progress(const std::string& stage, uint64_t done, uint64_t total);
void window_status(const std::string& text);
void window_finish(const std::string& text, bool wait);
// Asks question on the terminal and reads one line (echo off when asked):
// false when there is no terminal or it closed.
bool terminal_line(const std::string& question, std::string* line, bool echo);

}  // namespace setup::sys
