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
bool range_starts_at(const std::wstring& content_range, std::uint64_t start) {
  std::size_t at = content_range.find_first_of(L"0123456789");
  if (at == std::wstring::npos) return false;
  std::uint64_t first = 0;
  for (; at < content_range.size() && content_range[at] >= L'0' && content_range[at] <= L'9'; ++at)
    first = first * 10 + std::uint64_t(content_range[at] - L'0');
  return first == start;
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
// Every handle is a child of `root` and goes when it is closed.
HINTERNET open_following_redirects(HINTERNET root, rt::Text url, const std::wstring& headers) {
  // Reload, no cache write, pragma no-cache: the body always comes from the server.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                      INTERNET_FLAG_NO_AUTO_REDIRECT;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    HINTERNET request = InternetOpenUrlW(root, rt::wide_path(url.view()).c_str(), headers.c_str(),
                                         static_cast<DWORD>(headers.size()), flags, 0);
    if (!request) return request;
    DWORD status = 0;
    if (!query_number(request, HTTP_QUERY_STATUS_CODE, status)) return request;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return request;
    std::wstring location;
    if (!query_text(request, HTTP_QUERY_LOCATION, location)) return nullptr;
    wchar_t combined[2084];
    DWORD size = 2084;
    if (!InternetCombineUrlW(rt::wide_path(url.view()).c_str(), location.c_str(), combined, &size, ICU_NO_ENCODE))
      return nullptr;
    rt::Text next = text_of(combined);
    if (!redirect_allowed(url, next)) return nullptr;
    url = next;
  }
  return nullptr;
}

// How one try ended.
enum class TryEnd {
  kComplete,
  kBroken,        // no connection, a read that failed, a body cut short, a stall: worth another try
  kUnusable,      // an answer that is not the body asked for (an error status, a bad range or encoding)
  kBlocked,       // a proxy or a captive portal stands in the way: no try will pass it
  kRangeRefused,  // 416: the bytes kept are not a beginning of this file
  kChanged,       // a range of another version of the file
  kFileFailed,    // the file cannot be written
  kCancelled,
};

// One request, fetched on a thread of its own and watched by the caller's,
// which can give it up at any moment (a cancel, a stall): it then closes
// the request's root handle from its side (WinINet's documented way to end
// a call blocked in another thread; Wine does not end it), and takes the gate so that the fetching thread touches the file
// no more whatever it is blocked in. Counted: freed by the last of the two.
struct Try {
  // Set by the caller before the fetching starts.
  rt::Text url;
  bool resume = false;
  std::string if_range;
  std::uint32_t stall_ms = 0;
  // The file for this try: positioned (at `from` for a range answer, else
  // at 0) and given, or null. Called under the gate, with `context`.
  HANDLE (*open_file)(void* context, bool partial, std::uint64_t from) = nullptr;
  void* context = nullptr;
  DownloadProgressHandler on_progress = nullptr;
  DWORD start_tick = 0;        // of the whole download; 0: at the first read
  bool whole_figures = false;  // progress counts the file's bytes, not this try's

  // The fetching thread's, read by the caller once it has ended or under the gate.
  std::uint64_t from = 0;  // bytes the file held before this try's
  Sha256 digest;           // over the file's bytes
  std::uint64_t stored = 0;
  std::string validator;
  TryEnd end = TryEnd::kBroken;

  CRITICAL_SECTION gate;
  bool abandoned = false;  // under the gate
  // The writer of the fetching thread while it lives, and the lock that
  // either thread holds to use it (the watching one only to flush it).
  CRITICAL_SECTION writer_lock;
  class FileWriter* writer = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<DWORD> heard{0};  // the tick of the last sign of life
  std::atomic<HINTERNET> root{nullptr};
  rt::win::Kernel done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  LONG refs = 1;  // the caller's; the fetching thread's is added when it starts

  Try() {
    InitializeCriticalSection(&gate);
    InitializeCriticalSection(&writer_lock);
  }
  ~Try() {
    DeleteCriticalSection(&gate);
    DeleteCriticalSection(&writer_lock);
  }
  void release() {
    if (InterlockedDecrement(&refs) == 0) delete this;
  }
  void close_root() {
    if (HINTERNET r = root.exchange(nullptr)) InternetCloseHandle(r);
  }
};

class Held {
 public:
  explicit Held(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ~Held() { LeaveCriticalSection(&lock_); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  CRITICAL_SECTION& lock_;
};

// What reaches the file, gathered into large writes: each write is a system
// call (under Wine a trip through its server), each hand-over two. A full
// buffer is digested and written by a thread of its own while the next one
// fills, so the digest costs the download no time while a second processor
// is free. Every write passes the try's gate: once the try is given up,
// nothing more is written.
class FileWriter {
 public:
  FileWriter(HANDLE file, Try& t)
      : file_(file), try_(t), filling_(new unsigned char[kSize]), writing_(new unsigned char[kSize]) {}
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
    Held hold(try_.gate);
    if (try_.abandoned) {
      ok_ = false;
      return;
    }
    try_.digest.update(data, n);
    DWORD written = 0;
    if (!WriteFile(file_, data, static_cast<DWORD>(n), &written, nullptr) || written != n) ok_ = false;
    else try_.stored += n;
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
  Try& try_;
  std::unique_ptr<unsigned char[]> filling_, writing_;
  std::size_t used_ = 0, pending_ = 0;
  // Set by the writing thread, looked at here between two buffers.
  std::atomic<bool> ok_{true};
  bool stop_ = false, tried_ = false;
  rt::win::Kernel work_, idle_, thread_;
};

// The try itself, on its own thread.
TryEnd fetch(Try& t) {
  t.heard = GetTickCount();
  DWORD connection = 0;
  InternetGetConnectedState(&connection, 0);  // only the flags matter
  std::wstring agent = L"Agent";
  for (char digit : std::to_string(GetTickCount())) agent += static_cast<wchar_t>(digit);
  DWORD access = (connection & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                          : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  HINTERNET root = InternetOpenW(agent.c_str(), access, nullptr, nullptr, 0);
  if (!root) return TryEnd::kBroken;
  t.root = root;
  if (t.stop) return TryEnd::kCancelled;  // given up before the root was there to close
  // WinINet's own time-outs as well, so that a try given up while blocked
  // still ends by itself where closing its handle does not wake it.
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT})
    InternetSetOptionW(root, option, &t.stall_ms, sizeof t.stall_ms);

  std::wstring headers = rt::wide_path(download_request_headers(t.resume, t.from, t.if_range).view());
  HINTERNET request = open_following_redirects(root, t.url, headers);
  if (!request) return TryEnd::kBroken;
  t.heard = GetTickCount();

  // Only the body asked for is taken: an error page, a redirect not followed
  // or any other answer is refused before the file is touched.
  DWORD status = 0;
  if (!query_number(request, HTTP_QUERY_STATUS_CODE, status)) return TryEnd::kBroken;
  std::wstring type, etag, modified, encoding;
  query_text(request, HTTP_QUERY_CONTENT_TYPE, type);
  if (network_blocked(status, text_of(type).view())) return TryEnd::kBlocked;
  if (t.resume && status == 416) return TryEnd::kRangeRefused;
  bool partial = t.resume && status == HTTP_STATUS_PARTIAL_CONTENT;
  if (status != HTTP_STATUS_OK && !partial) return TryEnd::kUnusable;
  query_text(request, HTTP_QUERY_ETAG, etag);
  query_text(request, HTTP_QUERY_LAST_MODIFIED, modified);
  query_text(request, HTTP_QUERY_CONTENT_ENCODING, encoding);
  std::string validator = download_validator(text_of(etag).view(), text_of(modified).view());
  if (partial) {
    std::wstring range;
    if (!query_text(request, HTTP_QUERY_CONTENT_RANGE, range) || !range_starts_at(range, t.from))
      return TryEnd::kUnusable;
    // A server that ignored If-Range: the range is of another file.
    if (!t.if_range.empty() && !validator.empty() && validator != t.if_range) return TryEnd::kChanged;
  }

  // The length in 64 bits: a package of 2 GB or more is no failure.
  std::wstring length_text;
  std::uint64_t length = 0;
  bool has_length = query_text(request, HTTP_QUERY_CONTENT_LENGTH, length_text) &&
                    parse_content_length(text_of(length_text), length);
  BodyDecoder decoder;
  if (!decoder.start(encoding)) return TryEnd::kUnusable;
  // A decoded body's offsets are not the server's: it cannot be continued.
  if (decoder.encoded()) validator.clear();

  HANDLE file = nullptr;
  {
    Held hold(t.gate);
    if (t.abandoned) return TryEnd::kCancelled;
    if (!partial) {
      t.from = 0;
      t.digest = Sha256();
    }
    if (!partial || t.validator.empty()) t.validator = validator;
    file = t.open_file(t.context, partial, t.from);
  }
  if (!file) return TryEnd::kFileFailed;

  // The figures the window shows are 32-bit; the counts kept here are not.
  const std::uint64_t base = t.whole_figures ? t.from : 0;
  std::int32_t total = has_length ? static_cast<std::int32_t>(static_cast<std::uint32_t>(base + length)) : 0;
  auto buffer = std::make_unique<unsigned char[]>(kDownloadChunk);
  std::uint64_t wire = 0, decoded = 0;
  if (!t.start_tick) t.start_tick = GetTickCount();
  FileWriter writer(file, t);
  auto write = [&](const unsigned char* data, std::size_t n) {
    decoded += n;
    return writer.put(data, n);
  };
  // The writer is this thread's but while it waits for the network: then a
  // stall may flush it from the watching one (what arrived is kept).
  EnterCriticalSection(&t.writer_lock);
  t.writer = &writer;
  TryEnd end = TryEnd::kComplete;
  for (;;) {
    if (t.stop) {
      end = TryEnd::kCancelled;
      break;
    }
    DWORD got = 0;
    LeaveCriticalSection(&t.writer_lock);
    BOOL read = InternetReadFile(request, buffer.get(), kDownloadChunk, &got);
    EnterCriticalSection(&t.writer_lock);
    if (!read) {
      end = TryEnd::kBroken;
      break;
    }
    // Bytes past the announced length belong to no body: a server that sends
    // more and closes must not lengthen the file (a ZIP's end record must
    // stay last for the package to open).
    if (has_length && wire + got > length) got = static_cast<DWORD>(length - wire);
    if (got == 0) break;
    t.heard = GetTickCount();
    wire += got;
    // Against the bytes that arrived: an announced length is only a claim.
    std::uint64_t limit = kMaxExpansion * wire + 65536;
    if (!decoder.feed(buffer.get(), got, limit, write)) {
      end = writer.flush() ? TryEnd::kUnusable : TryEnd::kFileFailed;
      break;
    }
    std::int32_t elapsed_ms = static_cast<std::int32_t>(GetTickCount() - t.start_tick);
    if (elapsed_ms == 0) elapsed_ms = 30;
    // Percent against the announced length: the bytes as sent.
    std::uint64_t shown = base + (decoder.encoded() ? wire : decoded);
    if (t.on_progress && !t.stop)
      t.on_progress(total, static_cast<std::int32_t>(static_cast<std::uint32_t>(shown)), elapsed_ms);
  }
  if (!writer.flush() && end == TryEnd::kComplete) end = TryEnd::kFileFailed;
  t.writer = nullptr;
  LeaveCriticalSection(&t.writer_lock);
  if (end != TryEnd::kComplete) return end;
  // A connection closed before the announced length, or a compressed stream
  // that did not reach its end, is a broken download, not a short file.
  if (has_length && wire < length) return TryEnd::kBroken;
  if (!decoder.finished()) return TryEnd::kBroken;
  return TryEnd::kComplete;
}

DWORD WINAPI fetch_thread(void* param) {
  auto* t = static_cast<Try*>(param);
  t->end = fetch(*t);
  t->close_root();  // closes every request of the try with it
  SetEvent(t->done.get());
  t->release();
  return 0;
}

// Runs the try on its own thread and waits for its end, looking ten times a
// second for a cancel and for a stall. Gives the try's end; `t` is the
// caller's to read afterwards (and to release).
TryEnd watch(Try& t) {
  if (install_cancel_requested()) return TryEnd::kCancelled;
  InterlockedIncrement(&t.refs);  // the fetching thread's
  t.heard = GetTickCount();
  rt::win::Kernel thread(CreateThread(nullptr, 0, &fetch_thread, &t, 0, nullptr));
  if (!thread) {
    InterlockedDecrement(&t.refs);
    return TryEnd::kBroken;
  }
  TryEnd given_up = TryEnd::kComplete;
  while (WaitForSingleObject(t.done.get(), 100) == WAIT_TIMEOUT) {
    if (install_cancel_requested()) {
      given_up = TryEnd::kCancelled;
    } else if (GetTickCount() - t.heard >= t.stall_ms) {
      // A stall: the request closed from this side ends a read blocked on
      // the silent server, and the try ends by itself with every byte it
      // received in the file, to be continued. A second is waited for that.
      given_up = TryEnd::kBroken;
      t.stop = true;
      t.close_root();
      if (WaitForSingleObject(t.done.get(), 1000) == WAIT_OBJECT_0) return given_up;
      // Still blocked (Wine): what it gathered goes to the file from here.
      Held writing(t.writer_lock);
      if (t.writer) t.writer->flush();
    } else {
      continue;
    }
    Held hold(t.gate);
    t.abandoned = true;
    t.stop = true;
    break;
  }
  if (given_up == TryEnd::kComplete) return t.end;
  // Given up: the fetching thread may stay blocked in the network, but it
  // touches the file no more, and ends by itself.
  t.close_root();
  return given_up;
}

std::int32_t result_of(TryEnd end) {
  if (end == TryEnd::kComplete) return kDownloadOk;
  return end == TryEnd::kCancelled ? kDownloadCancelled : kDownloadFailed;
}

// Sets the file's end at `at` and writes on from there.
bool place_at(HANDLE file, std::uint64_t at) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(at);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Sets the file's end at `from` (a HANDLE's) and writes on from there.
HANDLE file_placed(void* file, bool, std::uint64_t from) { return place_at(file, from) ? file : nullptr; }

// One try with the shipped stall time; nothing of it is retried.
std::int32_t single_try(const rt::Text& url, bool resume, std::uint64_t from,
                        HANDLE (*open_file)(void*, bool, std::uint64_t), void* context,
                        DownloadProgressHandler on_progress, std::uint64_t* received, Sha256* digest) {
  if (received) *received = 0;
  if (GetInputState()) rt::process_events();
  Try* t = new Try;
  t->url = url;
  t->resume = resume;
  t->from = from;
  t->stall_ms = shipped_download_patience().stall_ms;
  t->open_file = open_file;
  t->context = context;
  t->on_progress = on_progress;
  TryEnd end = watch(*t);
  {
    Held hold(t->gate);
    if (received) *received = t->stored;
    if (digest && end == TryEnd::kComplete) *digest = t->digest;
  }
  t->release();
  return result_of(end);
}

}  // namespace

std::int32_t download_to(const rt::Text& url, void* file_handle, DownloadProgressHandler on_progress,
                         std::uint64_t* received, Sha256* digest) {
  // Written from where the file stands.
  return single_try(url, false, 0, [](void* file, bool, std::uint64_t) { return static_cast<HANDLE>(file); },
                    file_handle, on_progress, received, digest);
}

std::int32_t download_file(const rt::Text& url, const rt::Text& save_path, DownloadProgressHandler on_progress,
                           std::int32_t start_offset, bool resume) {
  // The file through a hold on its folder: opened as itself (never what a
  // link in its place points to), or made.
  std::u16string folder_path, name;
  if (!rt::win::split_plain_parent(rt::wide_from_cp936(save_path.view()), &folder_path, &name)) return kDownloadFailed;
  rt::win::Folder folder = rt::win::Folder::open(folder_path);
  if (!folder) return kDownloadFailed;
  struct Target {
    rt::win::Folder folder;
    std::u16string name;
    rt::win::File file;
  } target{std::move(folder), name, {}};
  std::int32_t result = single_try(
      url, resume, resume && start_offset > 0 ? std::uint64_t(start_offset) : 0,
      [](void* context, bool partial, std::uint64_t from) -> HANDLE {
        auto& t = *static_cast<Target*>(context);
        if (partial) {
          t.file = open_for_range(t.folder, t.name, static_cast<std::int32_t>(from));
        } else {
          t.folder.remove(t.name);
          t.file = t.folder.create_file(t.name, GENERIC_WRITE, FILE_SHARE_READ);
        }
        return t.file ? t.file.get() : nullptr;
      },
      &target, on_progress, nullptr, nullptr);
  if (result != kDownloadOk) return result;
  if (!target.file.reset()) return kDownloadFailed;
  return kDownloadOk;
}

std::int32_t download_resuming(const std::vector<rt::Text>& urls, void* file_handle,
                               DownloadProgressHandler on_progress, PartialDownload& partial,
                               const DownloadPatience& patience) {
  if (urls.empty()) return kDownloadFailed;
  if (GetInputState()) rt::process_events();
  HANDLE file = static_cast<HANDLE>(file_handle);
  DownloadTries tries(urls.size(), patience);
  // Bytes kept from another address, or that no validator binds, are not continued.
  if (!(partial.url == urls[0]) || partial.validator.empty()) partial.restart();
  partial.url = urls[0];
  std::uint64_t furthest = partial.received;
  const DWORD start = GetTickCount();
  for (;;) {
    if (install_cancel_requested()) return kDownloadCancelled;
    Try* t = new Try;
    t->url = partial.url;
    t->resume = partial.received > 0;
    t->if_range = partial.validator;
    t->from = partial.received;
    t->digest = partial.digest;
    t->validator = partial.validator;
    t->stall_ms = patience.stall_ms;
    t->open_file = file_placed;
    t->context = file;
    t->on_progress = on_progress;
    t->start_tick = start;
    t->whole_figures = true;
    TryEnd end = watch(*t);
    {
      Held hold(t->gate);
      partial.received = t->from + t->stored;
      partial.digest = t->digest;
      partial.validator = t->validator;
    }
    t->release();
    if (end == TryEnd::kComplete || end == TryEnd::kCancelled) return result_of(end);
    // A proxy's or a portal's page comes for every address alike; a file
    // that cannot be written is no network's fault.
    if (end == TryEnd::kBlocked || end == TryEnd::kFileFailed) return kDownloadFailed;
    // The bytes kept belong to no file the server has now: the whole of it, at once.
    if (end == TryEnd::kRangeRefused || end == TryEnd::kChanged) {
      partial.restart();
      continue;
    }
    const bool got_further = partial.received > furthest;
    if (got_further) furthest = partial.received;
    std::uint32_t pause = 0;
    bool moved = false;
    if (!tries.next(got_further, &pause, &moved)) return kDownloadFailed;
    if (moved) {
      partial.restart();
      partial.url = urls[tries.address()];
    }
    // Waited out in tenths of a second, so that a cancel ends it too.
    for (DWORD waited = GetTickCount(); GetTickCount() - waited < pause;) {
      if (install_cancel_requested()) return kDownloadCancelled;
      Sleep(100);
    }
    // Without a validator the bytes kept cannot be continued.
    if (partial.validator.empty()) partial.restart();
  }
}

}  // namespace installer
