// mkinstaller: makes configured installers from setup.exe.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mkinstaller/commands.h"
#include "mkinstaller/files.h"

#ifdef _WIN32
#include <windows.h>

#include "runtime/value/codepage.h"
#endif

namespace {

int run(std::vector<std::string> args) {
  using namespace mkinstaller;
  if (args.empty()) {
    std::fputs(help_text(""), stderr);
    return 1;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "-h" || command == "--help") {
    out(help_text(""));
    return 0;
  }
  if (command == "--version") {
    out("mkinstaller " MKINSTALLER_VERSION "\n");
    return 0;
  }
  if (command == "help") {
    std::string topic = args.empty() ? "" : args[0];
    if (topic == "-h" || topic == "--help") topic = "help";
    if (!topic.empty() && !*help_text(topic)) return usage_error("", "no such command: '" + topic + "'");
    out(help_text(topic));
    return 0;
  }
  if (command == "build") return run_build(args);
  if (command == "check") return run_check(args);
  if (command == "pack") return run_pack(args);
  if (command == "inspect") return run_inspect(args);
  if (command == "list") return run_list(args);
  return usage_error("", (command[0] == '-' ? "unknown option '" : "unknown command '") + command + "'");
}

// The command's status, unless what it printed did not all arrive: a report
// cut short (a full disk, a closed pipe) is never a success.
int finish(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const std::string why = errno ? std::strerror(errno) : "a write error";
    std::fputs(("mkinstaller: error: cannot write the output (" + why + "); it is incomplete\n").c_str(), stderr);
    return 1;
  }
  if (std::fflush(stderr) != 0 || std::ferror(stderr)) return status ? status : 1;
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(rt::utf8_from_wide(std::u16string(reinterpret_cast<const char16_t*>(argv[i]))));
  return finish(run(args));
}
#else
int main(int argc, char** argv) { return finish(run(std::vector<std::string>(argv + 1, argv + argc))); }
#endif
