// qg: command-line host of the raziza3z library.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "archive_tools.h"
#include "commands.h"
#include "exit_codes.h"

namespace qg {

namespace {
std::vector<std::pair<int, AddCommand>>& registry() {
  static std::vector<std::pair<int, AddCommand>> commands;
  return commands;
}
}  // namespace

CommandRegistrar::CommandRegistrar(int order, AddCommand add) {
  registry().emplace_back(order, add);
}

// Messages carry names from archives, folders and the command line: control
// characters in them are shown escaped, so no name can drive the terminal.
int fail(int status, const std::string& message) {
  std::fprintf(stderr, "qg: %s\n", printable(message).c_str());
  return status;
}

void warn(const std::string& message) {
  std::fprintf(stderr, "qg: warning: %s\n", printable(message).c_str());
}

}  // namespace qg

int main(int argc, char** argv) {
  CLI::App app{"qg: pack, list, test, extract and download with the raziza3z library"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "qg " QG_VERSION);
  int exit_code = 0;
  auto& commands = qg::registry();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [order, add] : commands) add(app, exit_code);
  // The one table of exit statuses, under every help text that has no
  // footer of its own.
  app.footer(qg::kExitCodeTable);
  auto all = [](CLI::App*) { return true; };
  for (CLI::App* sub : app.get_subcommands(all)) {
    if (sub->get_footer().empty()) sub->footer(qg::kExitCodeTable);
    for (CLI::App* leaf : sub->get_subcommands(all))
      if (leaf->get_footer().empty()) leaf->footer(qg::kExitCodeTable);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "qg: %s\n", e.what());
    return qg::kExitUsage;
  }
  return exit_code;
}
