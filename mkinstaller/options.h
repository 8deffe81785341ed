// The command line of one command: long options with values (--out FILE,
// --out=FILE, -o FILE), flags that take none (--dry-run), options that may be
// given more than once (--sign-timestamp), operands, and -h/--help.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mkinstaller {

using Args = std::vector<std::string>;

struct OptionSpec {
  const char* name;
  char short_name = 0;
  enum Kind { kValue, kFlag, kRepeated } kind = kValue;
};

struct Parsed {
  std::map<std::string, std::vector<std::string>> options;  // a flag holds one empty value
  std::vector<std::string> operands;
  bool help = false;

  // The option's value ("" when not given); the first of a repeated one.
  std::string value(const std::string& name) const;
  std::vector<std::string> values(const std::string& name) const;
  bool has(const std::string& name) const { return options.count(name) > 0; }
};

// Nothing (after printing the usage error) for an unknown option, a missing
// value, or an option given twice that may be given once.
std::optional<Parsed> parse(const std::string& command, const Args& args, const std::vector<OptionSpec>& specs);

}  // namespace mkinstaller
