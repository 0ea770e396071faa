// The exit statuses of qg: one meaning each, the same in every subcommand,
// printed by `qg --help`.  0-3 keep the meanings qg has always had; the
// setup program's own codes start at 10, so these stay below it.
#pragma once

namespace qg {

enum ExitCode : int {
  kExitOk = 0,          // everything asked for was done
  kExitSomeFailed = 1,  // some entries failed, the others were done
  kExitUnusable = 2,    // the archive could not be read (missing, damaged, no entry at the offset)
  kExitCancelled = 3,   // cancelled: Ctrl-C, SIGTERM, SIGHUP, or No/Cancel answered
  kExitUsage = 4,       // the command line was wrong
  kExitFileError = 5,   // a local file could not be read or written (input, output, script, store)
  kExitNetwork = 6,     // download: no connection, connection reset, or nothing arrived in time
  kExitServer = 7,  // download: the server's reply was an error, a redirect, invalid, or cut short
  kExitNotFound = 8,  // reg get: the value asked for is not in the store
};

// The table as `qg --help` shows it.
inline constexpr const char* kExitCodeTable =
    "Exit status:\n"
    "  0  success\n"
    "  1  some entries failed (the others were done)\n"
    "  2  the archive could not be read (missing, damaged, no entry at the offset)\n"
    "  3  cancelled (Ctrl-C, SIGTERM, SIGHUP, or No/Cancel answered)\n"
    "  4  usage: the command line was wrong\n"
    "  5  a local file could not be read or written\n"
    "  6  download: no connection, connection reset, or nothing arrived in time\n"
    "  7  download: the server answered with an error, a redirect or an invalid reply\n"
    "  8  reg get: no such value\n";

}  // namespace qg
