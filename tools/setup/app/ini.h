// The setup script as the setup program reads it: the library's INI format
// ([section], key=value, ';' comments, names compared without regard to
// ASCII case, the first of two equal keys wins, white space around names
// and values dropped).  The library reads the same file itself for its own
// sections; this reader serves the setup program's sections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

class Ini {
 public:
  void parse(const std::string& text);

  // The value, or fallback when the section or key is absent.
  std::string get(const std::string& section, const std::string& key,
                  const std::string& fallback = "") const;
  bool has(const std::string& section, const std::string& key) const;
  // An integer value (decimal, optional sign; "0x" hexadecimal), or fallback.
  int64_t get_int(const std::string& section, const std::string& key, int64_t fallback) const;
  // The key of numbered item n ("+<n><suffix>").
  std::string item(const std::string& section, int n, const std::string& suffix) const;
  // An integer key of numbered item n, or fallback.
  int64_t item_int(const std::string& section, int n, const std::string& suffix,
                   int64_t fallback) const;
  // The number of items of a section ("Ndx"), at most limit.
  int count(const std::string& section, int limit = 10000) const;

  // The script's text with its [VARIABLES] section replaced by vars
  // (name, value pairs), so the library substitutes them.
  std::string with_variables(const std::string& text,
                             const std::vector<std::pair<std::string, std::string>>& vars) const;

 private:
  struct Entry {
    std::string section, key, value;
  };
  const Entry* find(const std::string& section, const std::string& key) const;
  std::vector<Entry> entries_;
};

// Splits a command line into arguments: spaces separate, double quotes group,
// a backslash inside quotes escapes a quote or backslash.  No shell.
std::vector<std::string> split_command(const std::string& text);

// Why the script's replacement for the library's text id is refused ("" when
// it is taken): the library keeps 79 characters, and fills 4 and 13 as a
// template with one text argument.
std::string library_message_fault(int id, const std::string& text);

}  // namespace setup
