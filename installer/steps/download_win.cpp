#include <windows.h>
#include <wininet.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "installer/format/sha256.h"
#include "installer/steps/download.h"
#include "installer/steps/host.h"
#include "runtime/services/system_services.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
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
  DWORD size = 0, index = 0;
  HttpQueryInfoW(request, info, nullptr, &size, &index);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 65536) return false;
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  index = 0;
  if (!HttpQueryInfoW(request, info, buffer.data(), &size, &index)) return false;
  value.assign(buffer.c_str(), size / sizeof(wchar_t));
  return true;
}

rt::Text text_of(const std::wstring& w) { return rt::Text(rt::cp936_from_wchar(w.c_str())); }

// "bytes 5000-9999/10000" starts at 5000.
bool range_starts_at(const std::wstring& content_range, std::int32_t start) {
  std::size_t digits = content_range.find_first_of(L"0123456789");
  if (digits == std::wstring::npos) return false;
  return std::wcstoll(content_range.c_str() + digits, nullptr, 10) == start;
}

// The file that receives a 206 answer: the existing one, cut at the range's
// start, which it must reach so that no hole is left before the new bytes.
rt::win::File open_for_range(const rt::win::Folder& folder, const std::u16string& name, std::int32_t start) {
  rt::win::File file = folder.open_file(name, GENERIC_WRITE, FILE_SHARE_READ);
  if (!file) file = folder.create_file(name, GENERIC_WRITE, FILE_SHARE_READ);
  if (!file) return file;
  LARGE_INTEGER size{};
  LARGE_INTEGER at{};
  at.QuadPart = start;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < start ||
      !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
    return rt::win::File();
  return file;
}

// The body as sent (identity) or decoded here from gzip or deflate, so that
// its compressed size is known and a bomb is cut off.
class BodyDecoder {
 public:
  ~BodyDecoder() {
    if (ready_) inflateEnd(&z_);
  }
  // "", "identity", "gzip", "x-gzip" or "deflate"; false for anything else.
  bool start(std::wstring encoding) {
    for (wchar_t& c : encoding) c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c + 32 : c);
    if (encoding.empty() || encoding == L"identity") return true;
    if (encoding == L"gzip" || encoding == L"x-gzip") bits_ = 15 + 16;
    else if (encoding == L"deflate") bits_ = 15;  // zlib-wrapped, or raw (decided on the first bytes)
    else return false;
    return true;
  }
  bool encoded() const { return bits_ != 0; }
  bool finished() const { return !encoded() || ended_; }
  // Decodes `n` received bytes, handing out each decoded piece; false on
  // damaged data or a body past `limit` decoded bytes.
  bool feed(const unsigned char* data, std::size_t n, std::uint64_t limit,
            const std::function<bool(const unsigned char*, std::size_t)>& out) {
    if (!encoded()) return out(data, n);
    if (!ready_) {
      int bits = bits_;
      // A deflate body without the zlib header is the raw stream some servers send.
      if (bits == 15 && n >= 2 && ((data[0] & 0x0F) != 8 || ((data[0] << 8) | data[1]) % 31 != 0)) bits = -15;
      if (inflateInit2(&z_, bits) != Z_OK) return false;
      ready_ = true;
    }
    if (ended_) return true;  // bytes after the stream's end belong to nothing
    unsigned char piece[16384];
    z_.next_in = const_cast<unsigned char*>(data);
    z_.avail_in = static_cast<uInt>(n);
    while (z_.avail_in > 0 && !ended_) {
      z_.next_out = piece;
      z_.avail_out = sizeof piece;
      int r = inflate(&z_, Z_NO_FLUSH);
      if (r == Z_STREAM_END) ended_ = true;
      else if (r != Z_OK && r != Z_BUF_ERROR) return false;
      std::size_t made = sizeof piece - z_.avail_out;
      decoded_ += made;
      if (decoded_ > limit) return false;
      if (made && !out(piece, made)) return false;
      if (r == Z_BUF_ERROR && made == 0) break;
    }
    return true;
  }

 private:
  z_stream z_{};
  int bits_ = 0;
  bool ready_ = false, ended_ = false;
  std::uint64_t decoded_ = 0;
};

// Opens `url`, following redirects by hand so that each one can be judged.
rt::win::Internet open_following_redirects(HINTERNET root, rt::Text url, const std::wstring& headers) {
  // Reload, no cache write, pragma no-cache: the body always comes from the server.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                      INTERNET_FLAG_NO_AUTO_REDIRECT;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    rt::win::Internet request(InternetOpenUrlW(root, rt::wide_path(url.view()).c_str(), headers.c_str(),
                                               static_cast<DWORD>(headers.size()), flags, 0));
    if (!request) return request;
    DWORD status = 0;
    if (!query_number(request.get(), HTTP_QUERY_STATUS_CODE, status)) return request;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return request;
    std::wstring location;
    if (!query_text(request.get(), HTTP_QUERY_LOCATION, location)) return rt::win::Internet();
    wchar_t combined[2084];
    DWORD size = 2084;
    if (!InternetCombineUrlW(rt::wide_path(url.view()).c_str(), location.c_str(), combined, &size, ICU_NO_ENCODE))
      return rt::win::Internet();
    rt::Text next = text_of(combined);
    if (!redirect_allowed(url, next)) return rt::win::Internet();
    url = next;
  }
  return rt::win::Internet();
}

// What reaches the file, gathered into large writes: each write is a system
// call (under Wine a trip through its server), and reads come in 10,240
// bytes. A full buffer is digested and written by a thread of its own while
// the next one fills, so the digest costs the download no time while a
// second processor is free.
class FileWriter {
 public:
  FileWriter(HANDLE file, Sha256* digest)
      : file_(file), digest_(digest), filling_(new unsigned char[kSize]), writing_(new unsigned char[kSize]) {}
  ~FileWriter() { finish(); }
  bool put(const unsigned char* data, std::size_t n) {
    while (n > 0) {
      std::size_t take = n < kSize - used_ ? n : kSize - used_;
      std::memcpy(filling_.get() + used_, data, take);
      used_ += take;
      data += take;
      n -= take;
      if (used_ == kSize) hand_over();
    }
    return ok_;
  }
  // Writes what is gathered and waits until it is in the file; every way out
  // of a download calls it, so the bytes received stay in the file.
  bool flush() {
    if (used_ > 0) hand_over();
    if (thread_) WaitForSingleObject(idle_.get(), INFINITE);
    return ok_;
  }

 private:
  static constexpr std::size_t kSize = 256 * 1024;

  // The filled buffer goes to the writing thread once it has finished the
  // one before (one buffer in flight, so the file and the digest see the
  // bytes in order); without a thread it is written here.
  void hand_over() {
    if (!thread_ && !start()) {
      write_out(filling_.get(), used_);
      used_ = 0;
      return;
    }
    WaitForSingleObject(idle_.get(), INFINITE);
    ResetEvent(idle_.get());
    std::swap(filling_, writing_);
    pending_ = used_;
    used_ = 0;
    SetEvent(work_.get());
  }
  void write_out(const unsigned char* data, std::size_t n) {
    if (!ok_) return;
    if (digest_) digest_->update(data, n);
    DWORD written = 0;
    if (!WriteFile(file_, data, static_cast<DWORD>(n), &written, nullptr) || written != n) ok_ = false;
  }
  bool start() {
    if (tried_) return false;
    tried_ = true;
    work_ = rt::win::Kernel(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    idle_ = rt::win::Kernel(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    if (!work_ || !idle_) return false;
    thread_ = rt::win::Kernel(CreateThread(nullptr, 0, &FileWriter::run, this, 0, nullptr));
    return bool(thread_);
  }
  static DWORD WINAPI run(void* self) {
    auto* w = static_cast<FileWriter*>(self);
    for (;;) {
      WaitForSingleObject(w->work_.get(), INFINITE);
      if (w->stop_) return 0;
      w->write_out(w->writing_.get(), w->pending_);
      SetEvent(w->idle_.get());
    }
  }
  void finish() {
    if (!thread_) return;
    WaitForSingleObject(idle_.get(), INFINITE);
    stop_ = true;
    SetEvent(work_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
  }

  HANDLE file_;
  Sha256* digest_;
  std::unique_ptr<unsigned char[]> filling_, writing_;
  std::size_t used_ = 0, pending_ = 0;
  // Set by the writing thread, looked at here between two buffers.
  std::atomic<bool> ok_{true};
  bool stop_ = false, tried_ = false;
  rt::win::Kernel work_, idle_, thread_;
};

// The download itself; `open_file` gives the file to write once the answer
// is known to be wanted (true: a 206 range answer), or null.
std::int32_t fetch(const rt::Text& url, bool resume, std::int32_t start_offset,
                   const std::function<HANDLE(bool partial)>& open_file, DownloadProgressHandler on_progress,
                   std::uint64_t* received_out, Sha256* digest = nullptr) {
  if (received_out) *received_out = 0;
  if (GetInputState()) rt::process_events();

  DWORD connection = 0;
  InternetGetConnectedState(&connection, 0);  // only the flags matter
  std::wstring agent = L"Agent";
  for (char digit : std::to_string(GetTickCount())) agent += static_cast<wchar_t>(digit);
  DWORD access = (connection & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                          : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  rt::win::Internet root(InternetOpenW(agent.c_str(), access, nullptr, nullptr, 0));
  if (!root) return kDownloadFailed;

  std::wstring headers = rt::wide_path(download_request_headers(resume, start_offset).view());
  rt::win::Internet request = open_following_redirects(root.get(), url, headers);
  if (!request) return kDownloadFailed;

  // Only the body asked for is taken: an error page, a redirect not followed
  // or any other answer is refused before a file exists.
  DWORD status = 0;
  if (!query_number(request.get(), HTTP_QUERY_STATUS_CODE, status)) return kDownloadFailed;
  bool partial = resume && status == HTTP_STATUS_PARTIAL_CONTENT;
  if (status != HTTP_STATUS_OK && !partial) return kDownloadFailed;
  if (partial) {
    std::wstring range;
    if (!query_text(request.get(), HTTP_QUERY_CONTENT_RANGE, range) || !range_starts_at(range, start_offset))
      return kDownloadFailed;
  }

  // The length in 64 bits: a package of 2 GB or more is no failure.
  std::wstring length_text;
  std::uint64_t length = 0;
  bool has_length = query_text(request.get(), HTTP_QUERY_CONTENT_LENGTH, length_text) &&
                    parse_content_length(text_of(length_text), length);
  std::wstring encoding;
  query_text(request.get(), HTTP_QUERY_CONTENT_ENCODING, encoding);
  BodyDecoder decoder;
  if (!decoder.start(encoding)) return kDownloadFailed;

  HANDLE file = open_file(partial);
  if (!file) return kDownloadFailed;

  // The figures the window shows are 32-bit; the count kept here is not.
  std::int32_t total = has_length ? static_cast<std::int32_t>(static_cast<std::uint32_t>(length)) : 0;
  auto buffer = std::make_unique<unsigned char[]>(kDownloadChunk);
  std::uint64_t wire = 0, stored = 0;
  DWORD start = GetTickCount();
  FileWriter writer(file, digest);
  auto write = [&](const unsigned char* data, std::size_t n) {
    if (!writer.put(data, n)) return false;
    stored += n;
    return true;
  };
  std::int32_t result = kDownloadOk;
  for (;;) {
    // A safe point: nothing is half-way between the wire and the file.
    if (install_cancel_requested()) {
      result = kDownloadCancelled;
      break;
    }
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer.get(), kDownloadChunk, &got)) {
      result = kDownloadFailed;
      break;
    }
    // Bytes past the announced length belong to no body: a server that sends
    // more and closes must not lengthen the file (a ZIP's end record must
    // stay last for the package to open).
    if (has_length && wire + got > length) got = static_cast<DWORD>(length - wire);
    if (got == 0) break;
    wire += got;
    // Against the bytes that arrived: an announced length is only a claim.
    std::uint64_t limit = kMaxExpansion * wire + 65536;
    if (!decoder.feed(buffer.get(), got, limit, write)) {
      result = kDownloadFailed;
      break;
    }
    if (received_out) *received_out = stored;
    std::int32_t elapsed_ms = static_cast<std::int32_t>(GetTickCount() - start);
    if (elapsed_ms == 0) elapsed_ms = 30;
    // Percent against the announced length: the bytes as sent.
    std::uint64_t shown = decoder.encoded() ? wire : stored;
    if (on_progress) on_progress(total, static_cast<std::int32_t>(static_cast<std::uint32_t>(shown)), elapsed_ms);
  }
  if (!writer.flush() && result == kDownloadOk) result = kDownloadFailed;
  if (result != kDownloadOk) return result;
  // A connection closed before the announced length, or a compressed stream
  // that did not reach its end, is a broken download, not a short file.
  if (has_length && wire < length) return kDownloadFailed;
  if (!decoder.finished()) return kDownloadFailed;
  return kDownloadOk;
}

}  // namespace

std::int32_t download_to(const rt::Text& url, void* file_handle, DownloadProgressHandler on_progress,
                         std::uint64_t* received, Sha256* digest) {
  return fetch(url, false, 0, [file_handle](bool) { return static_cast<HANDLE>(file_handle); }, on_progress,
               received, digest);
}

std::int32_t download_file(const rt::Text& url, const rt::Text& save_path, DownloadProgressHandler on_progress,
                           std::int32_t start_offset, bool resume) {
  // The file through a hold on its folder: opened as itself (never what a
  // link in its place points to), or made.
  std::u16string folder_path, name;
  if (!rt::win::split_plain_parent(rt::wide_from_cp936(save_path.view()), &folder_path, &name)) return kDownloadFailed;
  rt::win::Folder folder = rt::win::Folder::open(folder_path);
  if (!folder) return kDownloadFailed;
  rt::win::File file;
  std::int32_t result = fetch(url, resume, start_offset,
                              [&](bool partial) -> HANDLE {
                                if (partial) {
                                  file = open_for_range(folder, name, start_offset);
                                } else {
                                  folder.remove(name);
                                  file = folder.create_file(name, GENERIC_WRITE, FILE_SHARE_READ);
                                }
                                return file ? file.get() : nullptr;
                              },
                              on_progress, nullptr);
  if (result != kDownloadOk) return result;
  if (!file.reset()) return kDownloadFailed;
  return kDownloadOk;
}

}  // namespace installer
