// qg subcommands register themselves; main() builds the command line from
// whatever subcommand files are linked in.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace qg {

// Adds one subcommand to the root app.  The subcommand's callback stores the
// process exit status in exit_code.
using AddCommand = void (*)(CLI::App& root, int& exit_code);

struct CommandRegistrar {
  CommandRegistrar(int order, AddCommand add);
};

// Prints "qg: <message>" on stderr, control characters escaped; returns
// status for convenience.
int fail(int status, const std::string& message);

// Prints "qg: warning: <message>" on stderr, control characters escaped.
void warn(const std::string& message);

}  // namespace qg
