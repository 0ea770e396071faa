// The Windows command line of the setup program: the switches Windows
// administrators type (case-insensitive, with '/' or '-'), read from the raw
// line as the system hands it over, turned into the program's own options.
//
//   /S, /SILENT          --silent
//   /VERYSILENT          --silent --quiet (no window at all)
//   /D=DIR               --target DIR; quoted or not, anywhere on the line.
//                        An unquoted DIR runs to the end of the line or to
//                        the last non-blank before a blank that is followed
//                        by '/' or '-' and a switch name (below, or a long
//                        option "--name"), so it may hold blanks.
//   /LOG=FILE            --log FILE
//   /NORUN               --no-run
//   /PASSWORDFILE=FILE   --password-file FILE
//   /UNINSTALL           --uninstall
//   /?                   --help
// Everything else (the long options, "-h") is passed on as it is; another
// "/NAME" is refused.  Pure text work, so it is tested on every system.
#pragma once

#include <string>
#include <vector>

namespace setup {

// Splits and translates `line` (UTF-8, the program's name first): 0 with the
// options in *args (without the program's name), or 1 with *error.
int windows_arguments(const std::string& line, std::vector<std::string>* args, std::string* error);

// The line after the program's name, leading blanks dropped: what a run of
// the same program with the same switches is given.
std::string command_tail(const std::string& line);

}  // namespace setup
