#include "installer/steps/download.h"

#include <string>

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
