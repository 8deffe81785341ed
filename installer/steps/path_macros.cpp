#include "installer/steps/path_macros.h"

#include <string>
#include <string_view>

#include "runtime/value/codepage.h"

namespace installer {

namespace {

const char* const kNames[kNamedFolderCount] = {
    "AppData", "Cache", "CD Burning", "Cookies", "Desktop", "Favorites", "Fonts", "History", "Local AppData",
    "Local Settings", "My Music", "My Pictures", "My Video", "NetHood", "Personal", "PrintHood", "Programs",
    "Recent", "SendTo", "Start Menu", "Startup", "Templates", "Common Administrative Tools", "Common AppData",
    "Common Desktop", "Common Documents", "Common Favorites", "Common Programs", "Common Start Menu",
    "Common Startup", "Common Templates", "CommonMusic", "CommonPictures", "CommonVideo", "Temp", "WinDir",
    "System32", "USERPROFILE", "ALLUSERSPROFILE", "ProgramFiles", "CommonProgramFiles", "SystemDrive",
    "软件安装目录"};

constexpr int kRootCurrentUser = 3;
constexpr int kRootLocalMachine = 4;
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";

// ASCII letters only: a two-byte character is copied as it is.
std::string lower_ascii(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (rt::is_lead_byte(c) && i + 1 < s.size()) {
      out += s.substr(i, 2);
      ++i;
    } else {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
  return out;
}

std::string replace_all(std::string_view s, std::string_view macro, std::string_view by) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    if (s.compare(i, macro.size(), macro) == 0) {
      out += by;
      i += macro.size();
    } else {
      std::size_t step = rt::is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
      out += s.substr(i, step);
      i += step;
    }
  }
  return out;
}

}  // namespace

const char* named_folder_name(int index) {
  if (index < 1 || index > kNamedFolderCount) index = 1;
  return kNames[index - 1];
}

rt::Text named_folder(int index, const FolderSources& sources) {
  std::string name = lower_ascii(named_folder_name(index));
  if (name == kNames[kNamedFolderCount - 1]) return sources.program_folder();
  rt::Text value = sources.environment(rt::Text(name));
  if (!value.empty()) return value;
  if (name == "system32") {
    std::string comspec = sources.environment("ComSpec").str();
    std::size_t slash = std::string::npos;
    for (std::size_t i = 0; i < comspec.size(); ++i) {  // the last "\" that is not a trail byte
      if (comspec[i] == '\\') slash = i;
      if (rt::is_lead_byte(static_cast<unsigned char>(comspec[i]))) ++i;
    }
    return slash == std::string::npos ? rt::Text() : rt::Text(std::string_view(comspec).substr(0, slash));
  }
  int root = name.compare(0, 6, "common") == 0 ? kRootLocalMachine : kRootCurrentUser;
  return sources.registry_text(root, rt::text_concat({kShellFolders, name}));
}

rt::Text expand_path_macros(const rt::Text& entry_name, const rt::Text& install_dir, const rt::Text& temp_dir) {
  std::string app = install_dir.str() + "\\";
  std::string step = replace_all(entry_name.view(), "{app}/", app);
  return rt::Text(replace_all(step, "{tmp}/", temp_dir.view()));
}

std::u16string expand_path_macros(const std::u16string& entry_name, const std::u16string& app,
                                  const std::u16string& tmp, std::size_t* base) {
  std::size_t end = 0;
  auto replace = [&end](const std::u16string& s, std::u16string_view macro, const std::u16string& by) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
      if (s.compare(i, macro.size(), macro) == 0) {
        out += by;
        end = out.size();
        i += macro.size();
      } else {
        out += s[i++];
      }
    }
    return out;
  };
  std::u16string step = replace(entry_name, u"{app}/", app);
  std::size_t after_app = end;
  end = 0;
  std::u16string out = replace(step, u"{tmp}/", tmp);
  // A {tmp} replaced after an {app} moved what followed it.
  if (base) *base = end ? end : after_app;
  return out;
}

}  // namespace installer
