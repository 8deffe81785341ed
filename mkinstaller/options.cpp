#include "mkinstaller/options.h"

#include <algorithm>

#include "mkinstaller/files.h"

namespace mkinstaller {

std::string Parsed::value(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() || it->second.empty() ? std::string() : it->second.front();
}

std::vector<std::string> Parsed::values(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() ? std::vector<std::string>() : it->second;
}

std::optional<Parsed> parse(const std::string& command, const Args& args, const std::vector<OptionSpec>& specs) {
  Parsed p;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a.size() < 2 || a[0] != '-') {
      p.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options_end = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      p.help = true;
      continue;
    }
    std::string name = a, value;
    bool has_value = false;
    if (a.compare(0, 2, "--") == 0) {
      name = a.substr(2);
      std::size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        has_value = true;
      }
    }
    auto spec = std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) {
      return name == s.name || (a.size() == 2 && s.short_name && a[1] == s.short_name);
    });
    if (spec == specs.end()) {
      usage_error(command, "unknown option '" + a + "'");
      return std::nullopt;
    }
    if (spec->kind == OptionSpec::kFlag) {
      if (has_value) {
        usage_error(command, "option '--" + std::string(spec->name) + "' takes no value");
        return std::nullopt;
      }
    } else if (!has_value) {
      if (i + 1 >= args.size()) {
        usage_error(command, "option '" + a + "' needs a value");
        return std::nullopt;
      }
      value = args[++i];
    }
    if (p.options.count(spec->name) && spec->kind != OptionSpec::kRepeated) {
      usage_error(command, "option '--" + std::string(spec->name) + "' given twice");
      return std::nullopt;
    }
    p.options[spec->name].push_back(value);
  }
  return p;
}

}  // namespace mkinstaller
