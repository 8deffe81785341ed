#include "installer/setup/command_line.h"

namespace installer {

namespace {

bool blank(char16_t c) { return c == u' ' || c == u'\t'; }

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

bool starts_with_option(std::u16string_view text, std::u16string_view option) {
  if (text.size() < option.size()) return false;
  for (std::size_t i = 0; i < option.size(); ++i)
    if (lower(text[i]) != lower(option[i])) return false;
  return true;
}

bool is_option(std::u16string_view text, std::u16string_view option) {
  return text.size() == option.size() && starts_with_option(text, option);
}

std::u16string without_quotes(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text)
    if (c != u'"') out += c;
  return out;
}

// A drive's full path or a share's.
bool full_path(std::u16string_view path) {
  if (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/'))
    return (path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z');
  return path.size() > 2 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'\\' && path[2] != u'?' &&
         path[2] != u'.';
}

}  // namespace

SetupArguments parse_setup_arguments(std::u16string_view line) {
  SetupArguments args;
  std::size_t i = 0;
  // The program's own name: quoted, or up to the first blank.
  if (i < line.size() && line[i] == u'"') {
    std::size_t end = line.find(u'"', 1);
    i = end == std::u16string_view::npos ? line.size() : end + 1;
  }
  while (i < line.size() && !blank(line[i])) ++i;

  for (;;) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    args.given = true;
    const std::size_t start = i;
    // The folder: everything to the end of the line.
    std::u16string_view rest = line.substr(start);
    const bool quoted_folder = starts_with_option(rest, u"\"/D=");
    if (quoted_folder || starts_with_option(rest, u"/D=")) {
      std::u16string_view value = rest.substr(quoted_folder ? 4 : 3);
      while (!value.empty() && blank(value.back())) value.remove_suffix(1);
      args.folder = without_quotes(value);
      if (!full_path(args.folder) && args.wrong.empty()) args.wrong = std::u16string(rest);
      break;
    }
    bool in_quotes = false;
    std::u16string token;
    for (; i < line.size() && (in_quotes || !blank(line[i])); ++i) {
      if (line[i] == u'"') in_quotes = !in_quotes;
      else token += line[i];
    }
    if (is_option(token, u"/S")) {
      args.silent = true;
    } else if (is_option(token, u"/?") || is_option(token, u"--help")) {
      args.help = true;
    } else if (starts_with_option(token, u"/LOG=") && token.size() > 5) {
      args.log = token.substr(5);
    } else if (args.wrong.empty()) {
      args.wrong = std::u16string(line.substr(start, i - start));
    }
  }
  return args;
}

rt::Text setup_usage_text() {
  return rt::Text(
      "setup.exe [/S] [/LOG=<file>] [/D=<folder>]\r\n"
      "/S\t静默安装 / no window, no questions\r\n"
      "/LOG=\t日志文件 / a log of every step (UTF-8)\r\n"
      "/D=\t安装目录，完整路径，放在最后 / the folder (a full path, last)\r\n"
      "/?\t本说明 / this text\r\n"
      "\r\n退出代码 / exit codes:\r\n"
      "0\t已安装 / installed\r\n"
      "1\t安装失败 / failed (see the log)\r\n"
      "2\t已取消 / cancelled\r\n"
      "3\t安装程序已损坏 / damaged installer\r\n"
      "4\t文件正在使用 / a file in use\r\n"
      "5\t安装目录无法使用 / folder unusable\r\n"
      "6\t另一个安装或卸载正在运行 / another run\r\n"
      "7\t需要管理员权限 / administrator rights needed\r\n"
      "8\t参数错误 / wrong arguments\r\n"
      "9\t已安装较新的版本 / a newer version is installed\r\n"
      "3010\t已安装，需重新启动 / installed, restart needed\r\n");
}

}  // namespace installer
