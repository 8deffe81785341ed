#include "mkinstaller/checks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "installer/format/format.h"
#include "installer/format/record.h"
#include "installer/format/sha256.h"
#include "mkinstaller/files.h"
#include <nlohmann/json.hpp>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip_reader.h"

namespace mkinstaller {

namespace format = installer::format;

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

std::string hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

int line_at(const std::string& s, std::size_t offset) {
  return 1 + static_cast<int>(
                 std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min(offset, s.size())), '\n'));
}

}  // namespace

std::size_t first_unspellable(std::u16string_view wide, std::size_t* length) {
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::size_t n = (wide[i] >= 0xD800 && wide[i] < 0xDC00 && i + 1 < wide.size()) ? 2 : 1;
    std::u16string_view ch = wide.substr(i, n);
    // Exactly: Windows' conversion maps what it lacks to a look-alike ("¹"
    // becomes "1") without saying so.
    if (!rt::cp936_can_hold(ch) || rt::wide_from_cp936(rt::cp936_from_wide(ch)) != ch) {
      *length = n;
      return i;
    }
    i += n - 1;
  }
  return std::u16string_view::npos;
}

std::string unspellable_text(std::u16string_view ch) {
  unsigned code = ch.size() == 2 ? 0x10000 + ((ch[0] - 0xD800u) << 10) + (ch[1] - 0xDC00u) : ch[0];
  return "\"" + rt::utf8_from_wide(ch) + "\" (U+" + hex(code, 4) + ")";
}

namespace {

// The line where a key is first written ("key" in the text), 0 when it is not.
int line_of_key(const std::string& text, const std::string& key) {
  std::size_t at = text.find(in_quotes(key));
  return at == std::string::npos ? 0 : line_at(text, at);
}

bool fail_with(Problem* p, int line, std::string message) {
  p->line = line;
  p->message = std::move(message);
  return false;
}

// Reads the configuration with a standards-conforming parser: a missing or
// extra comma, a comment, a duplicate key or a value that is not a text is an
// error naming where it is.
class ConfigReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit ConfigReader(const std::string& text) : text_(text) {}

  std::map<std::string, std::string> values;
  Problem problem;

  bool null() override { return not_text("null"); }
  bool boolean(bool) override { return not_text("true or false"); }
  bool number_integer(number_integer_t) override { return number(); }
  bool number_unsigned(number_unsigned_t) override { return number(); }
  bool number_float(number_float_t, const string_t&) override { return number(); }
  bool binary(binary_t&) override { return not_text("binary data"); }
  bool string(string_t& value) override {
    if (depth_ == 0) return top_not_object();
    values[key_] = value;
    return true;
  }
  bool start_object(std::size_t) override {
    if (depth_ == 1) return not_text("an object");
    ++depth_;
    return true;
  }
  bool end_object() override {
    --depth_;
    return true;
  }
  bool start_array(std::size_t) override { return depth_ == 0 ? top_not_object() : not_text("an array"); }
  bool end_array() override { return true; }
  bool key(string_t& key) override {
    key_ = key;
    ++seen_[key];
    std::size_t at = key_at(key, seen_[key]);
    int line = at == std::string::npos ? 0 : line_at(text_, at);
    if (std::find(std::begin(format::kConfigKeys), std::end(format::kConfigKeys), key) ==
        std::end(format::kConfigKeys)) {
      std::string known;
      for (const char* k : format::kConfigKeys) known += (known.empty() ? "" : ", ") + std::string(k);
      return fail_with(&problem, line, "unknown key \"" + key + "\" (known keys: " + known + ")");
    }
    if (seen_[key] > 1) return fail_with(&problem, line, "the key \"" + key + "\" appears twice");
    return true;
  }
  bool parse_error(std::size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& ex) override {
    std::string what = ex.what();
    std::size_t colon = what.find(": ");
    std::string detail = colon == std::string::npos ? what : what.substr(colon + 2);
    std::size_t offset = position ? position - 1 : 0;
    std::string hint;
    if (text_.find_first_not_of(" \t\r\n") == std::string::npos) {
      hint = "the file is empty";
    } else if (detail.find("unexpected string literal") != std::string::npos &&
               (detail.find("expected '}'") != std::string::npos || detail.find("expected ']'") != std::string::npos)) {
      offset = position >= last_token.size() ? position - last_token.size() : 0;
      hint = "a comma (,) is missing before this";
    } else if (detail.find("unexpected '}'") != std::string::npos || detail.find("unexpected ']'") != std::string::npos) {
      hint = "a comma before } or ] is not allowed";
    } else if (offset < text_.size() && text_[offset] == '/') {
      hint = "comments are not allowed in JSON";
    } else if (detail.find("end of input; expected") != std::string::npos) {
      hint = "the text ends inside an object or array (a } or ] is missing)";
    } else {
      hint = detail;
    }
    offset = std::min(offset, text_.size());
    std::size_t line_start = text_.rfind('\n', offset ? offset - 1 : 0);
    line_start = (line_start == std::string::npos || offset == 0) ? 0 : line_start + 1;
    std::size_t column = rt::wide_from_utf8(text_.substr(line_start, offset - line_start)).size() + 1;
    return fail_with(&problem, line_at(text_, offset),
                     "not valid JSON: " + hint + " (column " + std::to_string(column) + ")");
  }

 private:
  bool number() {
    if (depth_ == 0) return top_not_object();
    // The number as written, for the message.
    std::size_t at = key_at(key_, seen_[key_]);
    std::string written;
    if (at != std::string::npos) {
      std::size_t v = text_.find_first_not_of(" \t\r\n:", at + key_.size() + 2);
      std::size_t e = v == std::string::npos ? v : text_.find_first_of(" \t\r\n,}", v);
      if (v != std::string::npos) written = text_.substr(v, e == std::string::npos ? e : e - v);
    }
    return not_text("a number (write \"" + written + "\")");
  }
  bool not_text(const std::string& kind) {
    if (depth_ == 0) return top_not_object();
    std::size_t at = key_at(key_, seen_[key_]);
    return fail_with(&problem, at == std::string::npos ? 0 : line_at(text_, at),
                     in_quotes(key_) + " must be a text in double quotes, not " + kind);
  }
  bool top_not_object() {
    return fail_with(&problem, 0,
                     "the configuration must be a JSON object: { " + in_quotes(format::kKeySoftName) +
                         ": \"...\", ... }");
  }
  // Where the n-th (from 1) key of this name is written (as a key: a colon
  // follows), or npos.
  std::size_t key_at(const std::string& key, int nth) const {
    std::string quoted = "\"" + key + "\"";
    for (std::size_t at = text_.find(quoted); at != std::string::npos; at = text_.find(quoted, at + 1)) {
      std::size_t next = text_.find_first_not_of(" \t\r\n", at + quoted.size());
      if (next != std::string::npos && text_[next] == ':' && --nth == 0) return at;
    }
    return std::string::npos;
  }

  const std::string& text_;
  int depth_ = 0;
  std::string key_;
  std::map<std::string, int> seen_;
};

bool starts_with_nocase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

// The texts the installer reads as the .NET Framework versions it knows.
const char* const kFrameworks[] = {"3.5", "4", "4.0", "4.5", "4.51", "4.52", "4.6", "4.61", "4.62",
                                   "4.7", "4.71", "4.72", "4.8", "4.81"};

bool check_values(const Config& c, const std::string& text, Problem* p) {
  auto line_of = [&](const std::string& key) { return line_of_key(text, key); };
  const std::string net = in_quotes(format::kInstallTypeNet), disk = in_quotes(format::kInstallTypeDisk);
  const std::string type_key = in_quotes(format::kKeyInstallType);
  std::string type = c.value(format::kKeyInstallType);
  if (type != format::kInstallTypeNet && type != format::kInstallTypeDisk)
    return fail_with(p, line_of(format::kKeyInstallType),
                     type.empty() && !c.values.count(format::kKeyInstallType)
                         ? type_key + " is missing; it must be " + net + " or " + disk
                         : type_key + " must be " + net + " or " + disk + ", not " + in_quotes(type));
  std::string url = c.value(format::kKeyPackageUrl);
  if (type == format::kInstallTypeNet && !is_http_address(url))
    return fail_with(p, line_of(url.empty() ? format::kKeyInstallType : format::kKeyPackageUrl),
                     "install type " + net + " needs an http:// or https:// address of the package in " +
                         in_quotes(format::kKeyPackageUrl) +
                         (url.empty() ? std::string() : ", not " + in_quotes(url)));
  // The name becomes a folder name and shortcut names.
  const std::string name_key = in_quotes(format::kKeySoftName);
  std::string name = c.value(format::kKeySoftName);
  if (name.empty())
    return fail_with(p, line_of(format::kKeySoftName),
                     name_key + " is missing or empty; the installer names its folder after it");
  const std::u16string wide_name = rt::wide_from_utf8(name);
  const bool control = std::any_of(name.begin(), name.end(), [](char c) { return c >= 0 && c < 0x20; });
  if (name.find_first_of("\\/:*?\"<>|") != std::string::npos || control || name.back() == '.' ||
      name.back() == ' ' || name.front() == ' ' || rt::is_unsafe_entry_name(wide_name))
    return fail_with(p, line_of(format::kKeySoftName),
                     name_key + " " + json_quoted(name) +
                         " cannot be a folder name (no \\ / : * ? \" < > | or control character, no space at the "
                         "start or the end, no final dot, not a device name such as CON or NUL)");
  if (wide_name.size() > kSoftNameLimit)
    return fail_with(p, line_of(format::kKeySoftName),
                     name_key + " has " + std::to_string(wide_name.size()) + " characters; at most " +
                         std::to_string(kSoftNameLimit) +
                         " are allowed: it names the installation folder (\"C:\\Program Files (x86)\\\" + "
                         "softname) and the shortcuts, and what the application installs below that folder must "
                         "still fit in Windows' 260-character paths");
  // Addresses the installer downloads from or opens in the browser.
  for (const char* key :
       {format::kKeyPackageUrl, format::kKeyOfflineUrl, format::kKeyCompanyUrl, format::kKeyAgreementUrl}) {
    std::string v = c.value(key);
    if (!v.empty() && !is_http_address(v))
      return fail_with(p, line_of(key),
                       in_quotes(key) + " must be an http:// or https:// address, not " + in_quotes(v));
  }
  // The package's further addresses, each checked as "urlremote" is.
  for (const rt::Text& mirror : format::split_mirrors(c.value(format::kKeyMirrors)))
    if (!is_http_address(mirror.str()))
      return fail_with(p, line_of(format::kKeyMirrors),
                       in_quotes(format::kKeyMirrors) + " holds http:// or https:// addresses separated by blanks, not " +
                           in_quotes(mirror.str()));
  std::string framework = c.value(format::kKeyFramework);
  if (!framework.empty() &&
      std::find(std::begin(kFrameworks), std::end(kFrameworks), framework) == std::end(kFrameworks)) {
    std::string known;
    for (const char* f : kFrameworks) known += (known.empty() ? "" : ", ") + std::string(f);
    return fail_with(p, line_of(format::kKeyFramework),
                     in_quotes(format::kKeyFramework) + " must be a .NET Framework version the installer knows (" +
                         known + "; 4.7.2 is written 4.72), or empty, not " + in_quotes(framework));
  }
  VersionNumber version;
  std::string written_version = c.value(format::kKeySoftVersion);
  const std::string version_form =
      " a version of the form 1, 1.2, 1.2.3 or 1.2.3.4 (numbers up to 65535; a text such as \" beta\" may follow)";
  // Windows would show an empty version in the list of programs and 0.0.0.0
  // in the file's properties.
  if (written_version.empty())
    return fail_with(p, line_of(format::kKeySoftVersion),
                     in_quotes(format::kKeySoftVersion) + " is missing or empty; it must begin with" + version_form +
                         ", such as \"1.0.0\"");
  if (!parse_version(written_version, &version))
    return fail_with(p, line_of(format::kKeySoftVersion),
                     in_quotes(format::kKeySoftVersion) + " must begin with" + version_form + ", not " +
                         in_quotes(written_version) +
                         (written_version[0] == 'v' || written_version[0] == 'V'
                              ? " (leave out the leading \"" + written_version.substr(0, 1) + "\")"
                              : ""));
  if (c.values.count(format::kKeyScope)) {
    std::string scope = c.value(format::kKeyScope);
    if (scope != format::kScopeUser && scope != format::kScopeMachine)
      return fail_with(p, line_of(format::kKeyScope),
                       in_quotes(format::kKeyScope) + " must be " + in_quotes(format::kScopeUser) + " or " +
                           in_quotes(format::kScopeMachine) + ", not " + in_quotes(scope));
  }
  std::size_t unused = 0;
  for (const auto& [key, value] : c.values)
    if (first_unspellable(rt::wide_from_utf8(value), &unused) != std::u16string::npos)
      return fail_with(p, line_of(key),
                       in_quotes(key) + " holds a character that code page 936, the installer's text encoding, cannot "
                       "hold; use another character");
  std::string sha = c.value(format::kKeySha256);
  if (c.values.count(format::kKeySha256) && !is_sha256(sha))
    return fail_with(p, line_of(format::kKeySha256),
                     in_quotes(format::kKeySha256) +
                         " must be 64 hexadecimal digits (the SHA-256 of the package), not " + in_quotes(sha));
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
  std::size_t n = 0, bad_at = first_unspellable(wide, &n);
  if (bad_at != std::u16string::npos) {
    int line = 1 + static_cast<int>(std::count(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(bad_at), u'\n'));
    fail_with(p, line,
              "the character " + unspellable_text(std::u16string_view(wide).substr(bad_at, n)) +
                  " cannot be written in code page 936, the installer's text encoding; use another character");
    return std::nullopt;
  }
  ConfigReader reader(text);
  if (!nlohmann::json::sax_parse(text, &reader) || !reader.problem.message.empty()) {
    *p = reader.problem;
    if (p->message.empty()) fail_with(p, 0, "not valid JSON");
    return std::nullopt;
  }
  Config config;
  config.values = std::move(reader.values);
  if (!check_values(config, text, p)) return std::nullopt;
  config.record_text = rt::cp936_from_wide(wide);
  return config;
}

std::string json_quoted(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20)
          out += "\\u00" + hex(static_cast<unsigned char>(c), 2);
        else
          out += c;
    }
  }
  return out + "\"";
}

bool same_reading(const Config& config, const std::optional<format::Record>& record, Problem* p) {
  if (!record) return fail_with(p, 0, "the installer cannot read this configuration (its JSON reader refuses it)");
  for (const char* key : format::kConfigKeys) {
    const std::string read = format::record_value(*record, key).str();
    const std::string written = config.value(key);
    if (read == rt::cp936_from_utf8(written)) continue;
    // The ways the installer's reader is known to differ: it leaves \u
    // escapes as written (in keys too) and reads \n as CR LF.
    const int line = line_of_key(config.record_text, key);
    std::string hint;
    if (read.find("\\u") != std::string::npos)
      hint = ": write the characters themselves, not \\u escapes, which the installer does not decode";
    else if (read.find("\r\n") != std::string::npos)
      hint = ": the installer reads \\n as \\r\\n; write \\r\\n where a line break is meant";
    else if (read.empty() && line == 0)
      hint = ": write the key itself, not with \\u escapes, which the installer does not decode";
    return fail_with(p, line,
                     "the installer would read " + in_quotes(key) + " as " + json_quoted(rt::utf8_from_cp936(read)) +
                         ", not as " + json_quoted(written) + hint);
  }
  return true;
}

std::optional<rt::Bytes> seal_checked_record(const Config& config, Problem* problem) {
  rt::Bytes sealed = format::seal_record(rt::Text(config.record_text));
  if (sealed.empty()) {
    fail_with(problem, 0, "the configuration is empty");
    return std::nullopt;
  }
  if (!same_reading(config, format::open_record(sealed), problem)) return std::nullopt;
  return sealed;
}

bool parse_version(const std::string& text, VersionNumber* v) {
  *v = VersionNumber{};
  if (text.empty()) return true;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    unsigned long n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      n = n * 10 + static_cast<unsigned long>(text[i++] - '0');
      if (n > 65535) return false;
    }
    v->parts[part] = static_cast<std::uint16_t>(n);
    if (i >= text.size() || text[i] != '.') break;
    if (part == 3) return false;
    ++i;
  }
  // A suffix such as "-beta" or " (preview)" may follow, not more digits or dots.
  return i == text.size() || (text[i] != '.' && !(text[i] >= '0' && text[i] <= '9'));
}

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool is_http_address(const std::string& url) {
  std::size_t rest = starts_with_nocase(url, "http://") ? 7 : starts_with_nocase(url, "https://") ? 8 : 0;
  return rest && url.size() > rest && url.find_first_of(" \t\r\n\"<>\\") == std::string::npos &&
         url[rest] != '/';
}

bool is_sha256(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::optional<Config> add_key(const std::string& utf8_text, const std::string& key, const std::string& value,
                              Problem* problem) {
  std::string text = utf8_text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::size_t close = text.rfind('}');
  std::size_t last =
      close == std::string::npos || close == 0 ? std::string::npos : text.find_last_not_of(" \t\r\n", close - 1);
  if (last == std::string::npos) {
    fail_with(problem, 0, "cannot add " + in_quotes(key) + ": the configuration is not a JSON object");
    return std::nullopt;
  }
  // Laid out as the publisher laid out the object: one key a line, or all on one.
  bool lines = text.find('\n', last) < close;
  std::string member = in_quotes(key) + ": " + json_quoted(value);
  text.insert(last + 1, lines ? ",\n  " + member : ", " + member);
  auto config = check_config(text, problem);
  if (config && config->value(key) != value) {
    fail_with(problem, 0, "cannot add " + in_quotes(key) + " to this configuration text; add it by hand");
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

namespace {

// The package read where it lies (its open file), not a copy of it.
class SourceZipInput : public rt::ZipInput {
 public:
  explicit SourceZipInput(rt::ResourceSource& source) : source_(source) {}
  std::uint64_t size() const override { return source_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    return source_.read_at(offset, buffer, n);
  }

 private:
  rt::ResourceSource& source_;
};

}  // namespace

bool check_package(const std::string& bytes, std::vector<std::string>* names, std::string* why) {
  StringSource source(bytes);
  return check_package(source, names, why);
}

std::string package_sha256(rt::ResourceSource& package) {
  installer::Sha256 hash;
  std::string buffer(1 << 20, '\0');
  ByteProgress progress("hashing the package", package.size());
  for (std::uint64_t done = 0; done < package.size();) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), package.size() - done));
    if (!package.read_at(done, buffer.data(), n)) return "";
    hash.update(buffer.data(), n);
    done += n;
    progress.step(n);
  }
  return hash.hex_digest();
}

bool check_package(rt::ResourceSource& package, std::vector<std::string>* names, std::string* why) {
  rt::ZipReader zip;
  if (zip.open(std::make_unique<SourceZipInput>(package)) != rt::kZipOk) {
    char magic[2] = {};
    bool pk = package.size() >= 2 && package.read_at(0, magic, 2) && magic[0] == 'P' && magic[1] == 'K';
    *why = pk ? "a damaged ZIP archive" : "not a ZIP archive";
    return false;
  }
  std::string buffer(1 << 16, '\0');
  // Reading a large package takes a while: a terminal sees how far it got.
  const bool shown = stderr_is_terminal() && zip.count() >= 1000;
  for (std::size_t i = 0; i < zip.count(); ++i) {
    if (shown && (i % 500 == 0 || i + 1 == zip.count()))
      std::fprintf(stderr, "\rchecking the package: %zu/%zu entries", i + 1, zip.count());
    rt::ZipEntry e;
    std::uint32_t result = zip.describe(static_cast<std::int64_t>(i), e);
    // Shown as stored: "{app}/../x", not the "x" the reader's clean-up makes of it.
    std::string name = rt::utf8_from_wide(e.stored_name);
    // The installer's own check: it refuses the package for this name.
    std::string refused = result == rt::kZipOk ? refused_name_reason(e.stored_name) : "";
    if (!refused.empty()) {
      if (shown) std::fputs("\n", stderr);
      *why = "the entry \"" + name + "\" " + refused + ": the installer refuses the package as damaged";
      return false;
    }
    std::size_t n = 0, bad_at = result == rt::kZipOk ? first_unspellable(e.wide_name, &n) : std::u16string::npos;
    if (bad_at != std::u16string::npos) {
      if (shown) std::fputs("\n", stderr);
      *why = "the entry \"" + name + "\" has a name code page 936 cannot spell exactly (the character " +
             unspellable_text(std::u16string_view(e.wide_name).substr(bad_at, n)) +
             "): the installer writes its list of installed files in code page 936 and refuses such a package "
             "as damaged; rename the file";
      return false;
    }
    if (result == rt::kZipOk) result = zip.begin_entry(static_cast<std::int64_t>(i), std::nullopt);
    if (result == rt::kZipWrongPassword) {
      if (shown) std::fputs("\n", stderr);
      *why = "the entry \"" + name + "\" is encrypted; the installer unpacks without a password";
      return false;
    }
    while (result == rt::kZipOk && zip.read_entry(buffer.data(), buffer.size(), result) > 0) {
    }
    zip.end_entry();
    if (result != rt::kZipOk) {
      if (shown) std::fputs("\n", stderr);
      *why = "the entry \"" + name + "\" is damaged or uses an unsupported compression method";
      return false;
    }
    names->push_back(name);
  }
  if (shown) std::fputs("\n", stderr);
  return true;
}

char16_t windows_upper(char16_t c) {
  auto minus = [c](int n) { return static_cast<char16_t>(c - n); };
  if (c < 0x80) return c >= u'a' && c <= u'z' ? minus(0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return minus(0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {  // pairs, upper case first (odd first from U+0139 to U+0148, U+0179 on)
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    const bool odd_first = (c >= 0x139 && c <= 0x148) || c >= 0x179;
    return (c % 2 == 0) == odd_first ? minus(1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? char16_t(0x3A3) : minus(0x20);  // Greek, final sigma too
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return minus(0x25);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return minus(0x3F);
  if (c >= 0x430 && c <= 0x44F) return minus(0x20);  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return minus(0x50);
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return c % 2 ? minus(1) : c;
  if (c >= 0x2170 && c <= 0x217F) return minus(0x10);  // Roman numerals
  if (c >= 0x24D0 && c <= 0x24E9) return minus(0x1A);  // circled letters
  if (c >= 0xFF41 && c <= 0xFF5A) return minus(0x20);  // full-width letters
  return c;
}

namespace {

bool is_name_separator(char16_t c) { return c == u'/' || c == u'\\'; }

// The components of a name, split at "/" and "\".
std::vector<std::u16string_view> components(std::u16string_view name) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i)
    if (i == name.size() || is_name_separator(name[i])) {
      parts.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  return parts;
}

std::string quoted_entry(std::u16string_view stored) { return "the entry \"" + rt::utf8_from_wide(std::u16string(stored)) + "\""; }

// "?" (U+003F), a control character by its number alone.
std::string character_text(char16_t c) {
  return c < 0x20 ? "U+" + hex(c, 4) : "\"" + rt::utf8_from_wide(std::u16string(1, c)) + "\" (U+" + hex(c, 4) + ")";
}

constexpr std::u16string_view kAppMacro = u"{app}/", kTmpMacro = u"{tmp}/";

}  // namespace

std::string refused_name_reason(std::u16string_view stored) {
  if (!stored.empty() && is_name_separator(stored[0]))
    return "begins with \"" + std::string(1, static_cast<char>(stored[0])) + "\" (the root of a drive or a network share)";
  if (stored.size() >= 2 && stored[1] == u':' && stored[0] < 0x80 && std::isalpha(stored[0]))
    return "names a drive (\"" + rt::utf8_from_wide(std::u16string(stored.substr(0, 2))) + "\")";
  if (stored.find(u':') != std::u16string_view::npos) return "has a \":\" (Windows would write a hidden stream)";
  for (std::u16string_view part : components(stored)) {
    const std::u16string one(part);
    if (!rt::is_unsafe_entry_name(one)) continue;
    if (one.find_first_not_of(u". ") == std::u16string::npos)
      return "has a \"" + rt::utf8_from_wide(one) + "\" component (Windows reads it as the folder above)";
    return "names a device (\"" + rt::utf8_from_wide(one) +
           "\": Windows opens CON, PRN, AUX, NUL, COM1-9 and LPT1-9 in any folder, whatever follows the dot)";
  }
  return rt::is_refused_stored_name(std::u16string(stored)) ? "has a name the installer refuses" : "";
}

std::string entry_name_problem(std::u16string_view stored, bool allow_relative) {
  const std::string entry = quoted_entry(stored);
  std::string reason = refused_name_reason(stored);
  if (!reason.empty())
    return entry + " " + reason + ": the installer refuses such a package as damaged; rename it";
  const bool macro = stored.substr(0, kAppMacro.size()) == kAppMacro || stored.substr(0, kTmpMacro.size()) == kTmpMacro;
  if (!macro && !allow_relative)
    return entry + " is not below \"{app}/\" (the installation folder) or \"{tmp}/\": the installer would write it " +
           "below the folder it was started from, where uninstalling leaves it; name it \"{app}/" +
           rt::utf8_from_wide(std::u16string(stored)) + "\", or give --allow-relative-entries when that is meant";
  const std::u16string_view rest = macro ? stored.substr(kAppMacro.size()) : stored;
  for (std::u16string_view m : {kAppMacro, kTmpMacro})
    if (rest.find(m) != std::u16string_view::npos)
      return entry + " has \"" + rt::utf8_from_wide(std::u16string(m)) +
             "\" inside it, which the installer would replace there too; rename it";
  std::vector<std::u16string_view> parts = components(rest);
  if (!parts.empty() && parts.back().empty()) parts.pop_back();  // a folder's final "/"
  for (std::u16string_view part : parts) {
    for (char16_t c : part)
      if (c < 0x20 || std::u16string_view(u"<>\"|?*").find(c) != std::u16string_view::npos)
        return entry + " has the character " + character_text(c) + ", which Windows does not allow in a name";
    if (!part.empty() && (part.back() == u'.' || part.back() == u' '))
      return entry + " has a name ending in a " + (part.back() == u'.' ? "dot" : "space") + " (\"" +
             rt::utf8_from_wide(std::u16string(part)) + "\"), which Windows drops: it would not be the name given";
    if (part.size() > 255)
      return entry + " has a name of " + std::to_string(part.size()) +
             " characters; Windows allows at most 255 in one file or folder name";
  }
  // The installer cuts longer names (code page 936 bytes, macro included).
  const std::size_t bytes = rt::cp936_from_wide(std::u16string(stored)).size();
  if (bytes > 259)
    return entry + " is " + std::to_string(bytes) +
           " bytes long in code page 936; the installer reads at most 259 (and would write another name)";
  return "";
}

std::string same_name_problem(const std::vector<std::string>& names) {
  std::map<std::u16string, std::size_t> seen;  // the name as Windows compares it -> its entry
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::u16string key = rt::wide_from_utf8(names[i]);
    for (char16_t& c : key) c = c == u'\\' ? u'/' : windows_upper(c);
    while (!key.empty() && key.back() == u'/') key.pop_back();
    auto [at, added] = seen.emplace(key, i);
    if (added) continue;
    const std::string& first = names[at->second];
    if (first == names[i]) return "the entry \"" + first + "\" appears twice: the installer would write it twice";
    return "the entries \"" + first + "\" and \"" + names[i] +
           "\" name the same file on Windows, which does not tell upper and lower case apart: one would be lost; "
           "rename one";
  }
  return "";
}

std::string entry_names_problem(const std::vector<std::string>& names, bool allow_relative) {
  for (const std::string& name : names) {
    std::string problem = entry_name_problem(rt::wide_from_utf8(name), allow_relative);
    if (!problem.empty()) return problem;
  }
  return same_name_problem(names);
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
  for (const std::string& n : names) {
    bool below_app = n.compare(0, 6, "{app}/") == 0 && n.find("{app}/", 6) == std::string::npos &&
                     n.find("{tmp}/") == std::string::npos;
    if (!below_app)
      warnings.push_back("the entry \"" + n +
                         "\" is not below \"{app}/\": the installer writes it outside the installation folder");
  }
  const std::string uninstaller = std::string("{app}/") + format::kUninstallerFile;
  if (!has(uninstaller))
    warnings.push_back("the package has no " + in_quotes(uninstaller) + ": the installed files cannot be uninstalled");
  const std::string main_key = in_quotes(format::kKeyMainFile);
  std::string main = config.value(format::kKeyMainFile);
  if (main.empty())
    warnings.push_back("the configuration has no " + main_key + ": the finish button starts nothing");
  else if (!has(main[0] == '{' ? main : "{app}/" + main))
    warnings.push_back("the package has no " + in_quotes("{app}/" + main) + ", the configuration's " + main_key);
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

std::string describe_package(std::uint64_t size, const std::vector<std::string>& names) {
  return "ZIP archive, " + plural(names.size(), "entry", "entries") + ", " + std::to_string(size) + " bytes";
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string empty_zip() { return std::string("PK\x05\x06", 4) + std::string(18, '\0'); }

}  // namespace mkinstaller
