#include "mkinstaller/checks.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "installer/format/format.h"
#include "json/document.h"
#include "runtime/value/codepage.h"
#include "runtime/zip/zip_reader.h"

namespace mkinstaller {

const std::vector<std::string> kConfigKeys(std::begin(installer::format::kConfigKeys),
                                           std::end(installer::format::kConfigKeys));

std::string Config::value(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? std::string() : it->second;
}

namespace {

// Offset of the first byte that is not part of well-formed UTF-8, or npos.
std::size_t first_bad_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80                  ? 1
                      : (c >= 0xC2 && c < 0xE0) ? 2
                      : (c >= 0xE0 && c < 0xF0) ? 3
                      : (c >= 0xF0 && c < 0xF5) ? 4
                                                : 0;
    if (len == 0 || i + len > s.size()) return i;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return i;
    std::u16string one = rt::wide_from_utf8(s.substr(i, len));
    if (one == u"\uFFFD" && s.compare(i, len, "\xEF\xBF\xBD") != 0) return i;  // overlong or surrogate
    i += len;
  }
  return std::string::npos;
}

int line_at(const std::string& s, std::size_t offset) {
  return 1 + static_cast<int>(
                 std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min(offset, s.size())), '\n'));
}

std::string hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

std::string kind_name(int type) {
  switch (type) {
    case json::kNull:
      return "null";
    case json::kBoolean:
      return "true or false";
    case json::kArray:
      return "an array";
    case json::kObject:
      return "an object";
    default:
      return "a number";
  }
}

bool starts_with_nocase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

bool fail_with(Problem* p, int line, std::string message) {
  p->line = line;
  p->message = std::move(message);
  return false;
}

bool check_values(const Config& c, const std::string& text, Problem* p) {
  auto line_of = [&](const std::string& key) {
    std::size_t at = text.find("\"" + key + "\"");
    return at == std::string::npos ? 0 : line_at(text, at);
  };
  std::string type = c.value("installtype");
  if (type != "net" && type != "disk")
    return fail_with(p, line_of("installtype"),
                     type.empty() && !c.values.count("installtype")
                         ? "\"installtype\" is missing; it must be \"net\" or \"disk\""
                         : "\"installtype\" must be \"net\" or \"disk\", not \"" + type + "\"");
  std::string url = c.value("urlremote");
  bool http =
      (starts_with_nocase(url, "http://") && url.size() > 7) || (starts_with_nocase(url, "https://") && url.size() > 8);
  if (type == "net" && !http)
    return fail_with(p, line_of(url.empty() ? "installtype" : "urlremote"),
                     "install type \"net\" needs an http:// or https:// address of the package in \"urlremote\"" +
                         (url.empty() ? std::string() : ", not \"" + url + "\""));
  // The name becomes a folder name and shortcut names.
  std::string name = c.value("softname");
  if (name.empty())
    return fail_with(p, line_of("softname"),
                     "\"softname\" is missing or empty; the installer names its folder after it");
  if (name.find_first_of("\\/:*?\"<>|") != std::string::npos || name.back() == '.' || name.back() == ' ')
    return fail_with(
        p, line_of("softname"),
        "\"softname\" \"" + name + "\" cannot be a folder name (no \\ / : * ? \" < > |, no final dot or space)");
  std::string sha = c.value("sha256");
  if (c.values.count("sha256") && !is_sha256(sha))
    return fail_with(p, line_of("sha256"),
                     "\"sha256\" must be 64 hexadecimal digits (the SHA-256 of the package), not \"" + sha + "\"");
  return true;
}

}  // namespace

std::optional<Config> check_config(const std::string& utf8_text, Problem* p) {
  std::string text = utf8_text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::size_t bad = first_bad_utf8(text);
  if (bad != std::string::npos) {
    fail_with(p, line_at(text, bad),
              "not UTF-8 text (byte 0x" + hex(static_cast<unsigned char>(text[bad]), 2) + "); save the file as UTF-8");
    return std::nullopt;
  }
  std::u16string wide = rt::wide_from_utf8(text);
  int line = 1;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == u'\n') ++line;
    std::size_t n = (wide[i] >= 0xD800 && wide[i] < 0xDC00 && i + 1 < wide.size()) ? 2 : 1;
    std::u16string_view ch(wide.data() + i, n);
    if (!rt::cp936_can_hold(ch)) {
      unsigned code = n == 2 ? 0x10000 + ((ch[0] - 0xD800u) << 10) + (ch[1] - 0xDC00u) : ch[0];
      fail_with(p, line,
                "the character \"" + rt::utf8_from_wide(ch) + "\" (U+" + hex(code, 4) +
                    ") cannot be written in code page 936, the installer's text encoding; use another character");
      return std::nullopt;
    }
    i += n - 1;
  }
  json::JsonDocument doc;
  int code = 0, pos = 0;
  if (!doc.parse_wide(wide, false, false, &code, &pos) || doc.type_of_wide(u"") != json::kObject) {
    if (code == json::kParseOk) {
      fail_with(p, 0, "the configuration must be a JSON object: { \"softname\": \"...\", ... }");
      return std::nullopt;
    }
    std::string before = rt::utf8_from_wide(wide.substr(0, std::min<std::size_t>(std::max(pos, 0), wide.size())));
    std::size_t line_start = before.rfind('\n');
    std::size_t column =
        rt::wide_from_utf8(before.substr(line_start == std::string::npos ? 0 : line_start + 1)).size() + 1;
    const char* what = code == json::kParseNoText      ? "the file is empty"
                       : code == json::kParseUnclosed  ? "the text ends inside an object or array (a } or ] is missing)"
                       : code == json::kParseOpenQuote ? "a quote is never closed"
                       : code == json::kParseValue     ? "a value that is not JSON"
                                                       : "a mistake in the structure of the object";
    fail_with(p, line_at(before, before.size()),
              std::string("not valid JSON: ") + what + " (column " + std::to_string(column) + ")");
    return std::nullopt;
  }
  Config config;
  rt::Array<std::u16string> keys;
  doc.keys_wide(u"", keys);
  for (const std::u16string& wkey : keys) {
    std::string key = rt::utf8_from_wide(wkey);
    std::size_t at = text.find("\"" + key + "\"");
    int key_line = at == std::string::npos ? 0 : line_at(text, at);
    if (std::find(kConfigKeys.begin(), kConfigKeys.end(), key) == kConfigKeys.end()) {
      std::string known;
      for (const std::string& k : kConfigKeys) known += (known.empty() ? "" : ", ") + k;
      fail_with(p, key_line, "unknown key \"" + key + "\" (known keys: " + known + ")");
      return std::nullopt;
    }
    if (config.values.count(key)) {
      fail_with(p, key_line, "the key \"" + key + "\" appears twice");
      return std::nullopt;
    }
    json::JsonDocument member = doc.find_member_wide(u"", wkey);
    int type = member.type_of_wide(u"");
    if (type != json::kString) {
      fail_with(p, key_line,
                "\"" + key + "\" must be a text in double quotes, not " + kind_name(type) +
                    (type == json::kReal || type == json::kInteger
                         ? " (write \"" + rt::utf8_from_wide(member.get_text_wide(u"")) + "\")"
                         : ""));
      return std::nullopt;
    }
    config.values[key] = rt::utf8_from_wide(member.get_text_wide(u""));
  }
  if (!check_values(config, text, p)) return std::nullopt;
  config.record_text = rt::cp936_from_wide(wide);
  return config;
}

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool is_sha256(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::optional<Config> add_sha256(const std::string& utf8_text, const std::string& digest, Problem* problem) {
  std::string text = utf8_text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::size_t close = text.rfind('}');
  std::size_t last =
      close == std::string::npos || close == 0 ? std::string::npos : text.find_last_not_of(" \t\r\n", close - 1);
  if (last == std::string::npos) {
    fail_with(problem, 0, "cannot add \"sha256\": the configuration is not a JSON object");
    return std::nullopt;
  }
  // Laid out as the publisher laid out the object: one key a line, or all on one.
  bool lines = text.find('\n', last) < close;
  std::string member = "\"sha256\": \"" + digest + "\"";
  text.insert(last + 1, lines ? ",\n  " + member : ", " + member);
  auto config = check_config(text, problem);
  if (config && config->value("sha256") != digest) {
    fail_with(problem, 0, "cannot add \"sha256\" to this configuration text; add it by hand");
    return std::nullopt;
  }
  return config;
}

bool check_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why) {
  if (bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") != 0) {
    *why = "not a PNG image";
    if (bytes.compare(0, 3, "\xFF\xD8\xFF") == 0) *why += "; it looks like a JPEG image";
    if (bytes.compare(0, 4, "GIF8") == 0) *why += "; it looks like a GIF image";
    if (bytes.compare(0, 2, "BM") == 0) *why += "; it looks like a BMP image";
    return false;
  }
  return decode_png(bytes, width, height, why);
}

bool check_package(const std::string& bytes, std::vector<std::string>* names, std::string* why) {
  rt::ZipReader zip;
  if (zip.open(std::make_unique<rt::MemoryZipInput>(bytes)) != rt::kZipOk) {
    *why = bytes.compare(0, 2, "PK") == 0 ? "a damaged ZIP archive" : "not a ZIP archive";
    return false;
  }
  std::string buffer(1 << 16, '\0');
  for (std::size_t i = 0; i < zip.count(); ++i) {
    rt::ZipEntry e;
    std::uint32_t result = zip.describe(static_cast<std::int64_t>(i), e);
    std::string name = rt::utf8_from_wide(e.wide_name);
    if (result == rt::kZipOk) result = zip.begin_entry(static_cast<std::int64_t>(i), std::nullopt);
    if (result == rt::kZipWrongPassword) {
      *why = "the entry \"" + name + "\" is encrypted; the installer unpacks without a password";
      return false;
    }
    while (result == rt::kZipOk && zip.read_entry(buffer.data(), buffer.size(), result) > 0) {
    }
    zip.end_entry();
    if (result != rt::kZipOk) {
      *why = "the entry \"" + name + "\" is damaged or uses an unsupported compression method";
      return false;
    }
    names->push_back(name);
  }
  return true;
}

std::vector<std::string> package_warnings(const std::vector<std::string>& names, const Config& config) {
  std::vector<std::string> warnings;
  auto has = [&](std::string wanted) {
    wanted = lower_ascii(wanted);
    std::replace(wanted.begin(), wanted.end(), '\\', '/');
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
      std::string m = lower_ascii(n);
      std::replace(m.begin(), m.end(), '\\', '/');
      return m == wanted;
    });
  };
  if (!has("{app}/uninst.exe"))
    warnings.push_back("the package has no \"{app}/uninst.exe\": the installed files cannot be uninstalled");
  std::string main = config.value("mainfile");
  if (main.empty())
    warnings.push_back("the configuration has no \"mainfile\": the finish button starts nothing");
  else if (!has(main[0] == '{' ? main : "{app}/" + main))
    warnings.push_back("the package has no \"{app}/" + main + "\", the configuration's \"mainfile\"");
  return warnings;
}

bool check_stub(const std::string& bytes, rt::PeResources* pe, std::string* why) {
  std::string error;
  if (!pe->load(bytes, &error)) {
    *why = "not a PE32 program (" + error + ")";
    return false;
  }
  const rt::PeHeaderInfo& h = pe->header();
  if (h.pe32_plus || h.machine != 0x14C)
    *why = "not a PE32 program (it is built for another processor)";
  else if (h.is_dll() || !h.is_executable())
    *why = "not a PE32 program (it is a library, not a program)";
  else
    return true;
  return false;
}

std::string empty_zip() { return std::string("PK\x05\x06", 4) + std::string(18, '\0'); }

}  // namespace mkinstaller
