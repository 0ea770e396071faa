// The exit statuses of the setup program, shared with `qg verify` so that an
// integrity failure means the same everywhere.  qg keeps 1-7 (see
// tools/qg/exit_codes.h); `qg-setup --extract` uses qg's meanings.
#pragma once

namespace qgsetup {

enum SetupExitCode : int {
  kSetupOk = 0,             // success
  kSetupUsage = 10,         // the command line was wrong
  kSetupIntegrity = 11,     // changed byte, truncated, appended bytes, bad or missing signature
  kSetupCancelled = 12,     // cancelled, everything rolled back
  kSetupFailed = 13,        // failed, everything rolled back
  kSetupAnswerNeeded = 14,  // silent mode needs an answer it cannot give
  kSetupBusy = 15,          // another installation into the same target is running
  kSetupRollbackIncomplete = 16,  // rollback or uninstall incomplete (the log says what is left)
  kSetupNothingInstalled = 17,    // nothing to uninstall there, or the install record is unreadable
};

// The table as `--help` shows it.
inline constexpr const char* kSetupExitCodeTable =
    "Exit status:\n"
    "  0   success\n"
    "  10  usage: the command line was wrong\n"
    "  11  integrity failure: a changed byte, a truncated file, bytes appended after the end,\n"
    "      or a bad or missing signature\n"
    "  12  cancelled, everything rolled back\n"
    "  13  failed, everything rolled back\n"
    "  14  an answer is needed that silent mode cannot give (licence not accepted,\n"
    "      no password file, a question without a default)\n"
    "  15  another installation into the same target is running\n"
    "  16  rollback or uninstall incomplete (the log says what is left)\n"
    "  17  nothing to uninstall there, or the install record is unreadable\n";

}  // namespace qgsetup
