#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "installer/steps/download.h"
#include "runtime/value/codepage.h"
#include "runtime/services/system_services.h"
#include "runtime/win/handles.h"

namespace installer {
namespace {

// A numeric header of the response; false when it is absent.
bool query_number(HINTERNET request, DWORD info, DWORD& value) {
  DWORD size = sizeof value;
  DWORD index = 0;
  return HttpQueryInfoW(request, info | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index) != FALSE;
}

bool query_text(HINTERNET request, DWORD info, std::wstring& value) {
  wchar_t buffer[256] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD index = 0;
  if (!HttpQueryInfoW(request, info, buffer, &size, &index)) return false;
  value.assign(buffer, size / sizeof(wchar_t));
  return true;
}

// "bytes 5000-9999/10000" starts at 5000.
bool range_starts_at(const std::wstring& content_range, std::int32_t start) {
  std::size_t digits = content_range.find_first_of(L"0123456789");
  if (digits == std::wstring::npos) return false;
  return std::wcstoll(content_range.c_str() + digits, nullptr, 10) == start;
}

// The file that receives a 206 answer: the existing one, cut at the range's
// start, which it must reach so that no hole is left before the new bytes.
rt::win::File open_for_range(const std::wstring& path, std::int32_t start) {
  rt::win::File file = rt::win::File(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return file;
  LARGE_INTEGER size{};
  LARGE_INTEGER at{};
  at.QuadPart = start;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < start ||
      !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
    return rt::win::File();
  return file;
}

}  // namespace

std::int32_t download_file(const rt::Text& url, const rt::Text& save_path, DownloadProgressHandler on_progress,
                           std::int32_t start_offset, bool resume) {
  if (GetInputState()) rt::process_events();

  DWORD connection = 0;
  InternetGetConnectedState(&connection, 0);  // only the flags matter
  std::wstring agent = L"Agent";
  for (char digit : std::to_string(GetTickCount())) agent += static_cast<wchar_t>(digit);
  DWORD access = (connection & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                          : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  rt::win::Internet root(InternetOpenW(agent.c_str(), access, nullptr, nullptr, 0));
  if (!root) return -1;
  // The request offers gzip and deflate; a body sent that way is stored
  // decoded, or a compressing server would leave a corrupt package.
  BOOL decode = TRUE;
  InternetSetOptionW(root.get(), INTERNET_OPTION_HTTP_DECODING, &decode, sizeof decode);

  std::wstring headers = rt::wide_path(download_request_headers(resume, start_offset).view());
  // Reload, no cache write, pragma no-cache: the body always comes from the server.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  rt::win::Internet request(InternetOpenUrlW(root.get(), rt::wide_path(url.view()).c_str(), headers.c_str(),
                                          static_cast<DWORD>(headers.size()), flags, 0));
  if (!request) return -1;

  // An error page is not the file asked for: refuse it before a file exists,
  // or a large one would pass the caller's size floor and be installed.
  DWORD status = 0;
  bool has_status = query_number(request.get(), HTTP_QUERY_STATUS_CODE, status);
  if (has_status && status >= 400) return -1;

  std::wstring path = rt::wide_path(save_path.view());
  rt::win::File file;
  if (resume && has_status && status == HTTP_STATUS_PARTIAL_CONTENT) {
    std::wstring range;
    if (!query_text(request.get(), HTTP_QUERY_CONTENT_RANGE, range) || !range_starts_at(range, start_offset)) return -1;
    file = open_for_range(path, start_offset);
  } else {
    file = rt::win::File(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  if (!file) return -1;

  DWORD length = 0;
  std::int32_t total =
      query_number(request.get(), HTTP_QUERY_CONTENT_LENGTH, length) ? static_cast<std::int32_t>(length) : 0;
  // A decoded body is longer than the Content-Length that counted its encoded form.
  std::wstring encoding;
  bool encoded = query_text(request.get(), HTTP_QUERY_CONTENT_ENCODING, encoding) && !encoding.empty();

  auto buffer = std::make_unique<unsigned char[]>(kDownloadChunk);
  std::int64_t received = 0;
  DWORD start = GetTickCount();
  std::int32_t elapsed_ms = 30;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer.get(), kDownloadChunk, &got)) return -1;
    // Bytes past the announced length belong to no body: a server that sends
    // more and closes must not lengthen the file (a ZIP's end record must
    // stay last for the package to open).
    if (total > 0 && !encoded && received + got > total) got = static_cast<DWORD>(total - received);
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer.get(), got, &written, nullptr) || written != got) return -1;
    received += got;
    elapsed_ms = static_cast<std::int32_t>(GetTickCount() - start);
    if (elapsed_ms == 0) elapsed_ms = 30;
    if (on_progress) on_progress(total, static_cast<std::int32_t>(static_cast<std::uint32_t>(received)), elapsed_ms);
  }
  // A connection closed before the announced length is a broken download,
  // not a short file.
  if (total > 0 && !encoded && received < total) return -1;
  if (!file.reset()) return -1;
  return 0;
}

}  // namespace installer
