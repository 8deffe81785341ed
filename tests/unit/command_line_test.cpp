// What setup.exe makes of its command line: nothing at all without
// arguments; /S, /LOG= and /D= as administrators write them; anything else a
// usage error naming the argument.
#include "installer/setup/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using installer::parse_setup_arguments;

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(CommandLineTest, ReadsWhatAdministratorsWriteAndNamesWhatItCannotUse) {
  const struct {
    const char16_t* line;
    bool given, silent, help;
    const char* folder;
    const char* log;
    const char* wrong;
  } rows[] = {
      {u"setup.exe", false, false, false, "", "", ""},
      {u"\"C:\\Down loads\\setup.exe\"   ", false, false, false, "", "", ""},
      {u"\"C:\\a b\\setup.exe\" /S", true, true, false, "", "", ""},
      {u"setup.exe /s /log=C:\\l.log", true, true, false, "", "C:\\l.log", ""},
      {u"setup.exe /S \"/LOG=C:\\my logs\\s.log\" /D=C:\\Program Files\\Quill Notes",
       true, true, false, "C:\\Program Files\\Quill Notes", "C:\\my logs\\s.log", ""},
      {u"setup.exe /LOG=\"C:\\my logs\\s.log\" /D=D:\\x  ", true, false, false, "D:\\x", "C:\\my logs\\s.log", ""},
      {u"setup.exe \"/D=C:\\a b\\\"", true, false, false, "C:\\a b\\", "", ""},
      {u"setup.exe /d=\\\\server\\share\\app", true, false, false, "\\\\server\\share\\app", "", ""},
      {u"setup.exe /?", true, false, true, "", "", ""},
      {u"setup.exe --HELP", true, false, true, "", "", ""},
      // Usage errors: unknown, malformed, a folder that is no full path.
      {u"setup.exe /S /X", true, true, false, "", "", "/X"},
      {u"setup.exe /SILENT", true, false, false, "", "", "/SILENT"},
      {u"setup.exe /LOG", true, false, false, "", "", "/LOG"},
      {u"setup.exe /LOG=", true, false, false, "", "", "/LOG="},
      {u"setup.exe /S /D=relative\\x", true, true, false, "relative\\x", "", "/D=relative\\x"},
      {u"setup.exe /D=", true, false, false, "", "", "/D="},
      {u"setup.exe /D=\\\\?\\C:\\x", true, false, false, "\\\\?\\C:\\x", "", "/D=\\\\?\\C:\\x"},
      // /D= takes the rest of the line: what follows is part of the folder.
      {u"setup.exe /D=C:\\x /S", true, false, false, "C:\\x /S", "", ""},
      {u"setup.exe bare /S", true, true, false, "", "", "bare"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(narrow(row.line));
    installer::SetupArguments args = parse_setup_arguments(row.line);
    EXPECT_EQ(args.given, row.given);
    EXPECT_EQ(args.silent, row.silent);
    EXPECT_EQ(args.help, row.help);
    EXPECT_EQ(narrow(args.folder), row.folder);
    EXPECT_EQ(narrow(args.log), row.log);
    EXPECT_EQ(narrow(args.wrong), row.wrong);
    EXPECT_EQ(args.usage_error(), *row.wrong != 0);
  }
}

TEST(CommandLineTest, TheUsageNamesEveryArgumentAndEveryExitCode) {
  const std::string usage = installer::setup_usage_text().str();
  for (const char* part : {"/S", "/LOG=", "/D=", "/?"}) EXPECT_NE(usage.find(part), std::string::npos) << part;
  for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 3010})
    EXPECT_NE(usage.find("\n" + std::to_string(code) + "\t"), std::string::npos) << code;
}

}  // namespace
