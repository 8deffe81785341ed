#include "installer/steps/download.h"

#include <string>
#include <string_view>

namespace installer {

rt::Text download_request_headers(bool resume, std::uint64_t start_offset, std::string_view if_range) {
  std::string text =
      "Accept: */*\r\n"
      "Accept-Language: zh-cn\r\n"
      "Accept-Encoding: gzip, deflate\r\n"
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
  if (resume) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* at = end;
    do *--at = char('0' + start_offset % 10);
    while (start_offset /= 10);
    text.append("\r\nRange:bytes=").append(at, end).append("-");
  }
  if (resume && !if_range.empty()) text.append("\r\nIf-Range: ").append(if_range);
  return rt::Text(text);
}

namespace {
// The shipped patience as the program carries it, after its marker: tests
// rewrite the numbers in a copy of the program's bytes
// (tests/support/dotnet_url.h), never in the file that ships.
struct BuiltInPatience {
  char marker[16];
  DownloadPatience patience;
};
const BuiltInPatience kBuiltInPatience = {"TarnelPatience:", {30000, {2000, 4000, 8000, 16000, 30000}, 5}};
}  // namespace

DownloadPatience shipped_download_patience() {
  // Read through a pointer the optimiser cannot see through.
  const BuiltInPatience* volatile built_in = &kBuiltInPatience;
  return built_in->patience;
}

bool DownloadTries::next(bool got_further, std::uint32_t* pause_ms, bool* moved) {
  *pause_ms = 0;
  *moved = false;
  if (got_further) pause_ = 0;
  delivered_ = delivered_ || got_further;
  const bool mirror_left = address_ + 1 < addresses_;
  // An address that never gave a byte while another waits, or that has
  // used up its pauses, gives way.
  if ((!delivered_ && mirror_left) || pause_ >= patience_.pauses) {
    if (!mirror_left) return false;
    ++address_;
    pause_ = 0;
    delivered_ = false;
    *moved = true;
    return true;
  }
  *pause_ms = patience_.pauses_ms[pause_++];
  return true;
}

std::string download_validator(std::string_view etag, std::string_view last_modified) {
  // A weak ETag ("W/...") may not be sent in If-Range.
  if (etag.size() >= 2 && etag.front() == '"') return std::string(etag);
  return std::string(last_modified);
}

bool network_blocked(std::uint32_t status, std::string_view content_type) {
  if (status == 407 || status == 511) return true;
  if ((status != 200 && status != 206) || content_type.size() < 9) return false;
  for (std::size_t i = 0; i < 9; ++i)
    if ((content_type[i] | 0x20) != "text/html"[i]) return false;
  return true;
}

}  // namespace installer

namespace installer {

namespace {
std::string scheme_of(std::string_view url) {
  std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return {};
  std::string s(url.substr(0, colon));
  for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}
}  // namespace

bool redirect_allowed(const rt::Text& from, const rt::Text& to) {
  std::string a = scheme_of(from.view()), b = scheme_of(to.view());
  if (b != "http" && b != "https") return false;
  return !(a == "https" && b == "http");
}

bool parse_content_length(const rt::Text& text, std::uint64_t& length) {
  std::string_view v = text.view();
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  if (v.empty() || v.size() > 19) return false;
  std::uint64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + std::uint64_t(c - '0');
  }
  length = n;
  return true;
}

}  // namespace installer
