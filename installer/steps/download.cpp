#include "installer/steps/download.h"

#include <string>
#include <string_view>

namespace installer {

rt::Text download_request_headers(bool resume, std::int32_t start_offset) {
  std::string text =
      "Accept: */*\r\n"
      "Accept-Language: zh-cn\r\n"
      "Accept-Encoding: gzip, deflate\r\n"
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
  if (resume) text += "\r\nRange:bytes=" + std::to_string(start_offset) + "-";
  return rt::Text(text);
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
