// HTTP downloader: fetches one URL through WinINet into a file, reporting
// after every chunk. Runs on the install worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "installer/format/sha256.h"
#include "runtime/value/value.h"

namespace installer {

// Called after every chunk written: the announced body length (0 when the
// server sent none), the bytes received so far in this call (low 32 bits),
// and the milliseconds since the first read (never 0).
using DownloadProgressHandler = void (*)(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms);

// Bytes asked for per read, and so the largest chunk a progress call reports:
// 10,240-byte reads held the download to half of curl's speed on the loopback.
constexpr std::uint32_t kDownloadChunk = 65536;
// A compressed body may grow to this many times its compressed size, and no
// further: past that it is a bomb, not a package.
constexpr std::uint64_t kMaxExpansion = 100;
// Redirects followed before a download is given up.
constexpr int kMaxRedirects = 10;

// The request's header block; with `resume` it ends in an open-ended
// "Range:bytes=<start_offset>-" line, and with a validator too in an
// "If-Range:" line carrying it (a changed file then comes whole, as a 200).
rt::Text download_request_headers(bool resume, std::uint64_t start_offset, std::string_view if_range = {});

// Whether a redirect from `from` to `to` (absolute addresses) is followed:
// http and https only, and never from https down to http.
bool redirect_allowed(const rt::Text& from, const rt::Text& to);
// A Content-Length value in 64 bits; false for anything but decimal digits.
bool parse_content_length(const rt::Text& text, std::uint64_t& length);

// The result codes of a download.
constexpr std::int32_t kDownloadOk = 0;
constexpr std::int32_t kDownloadFailed = -1;
constexpr std::int32_t kDownloadCancelled = -2;  // stopped at the window's request, within a second

// How long a download waits for a silent server, and how often it tries
// again. The shipped values are shipped_download_patience(); tests pass
// shorter ones to the download itself.
struct DownloadPatience {
  std::uint32_t stall_ms = 0;      // no byte (nor an answer) for this long: the try is given up
  std::uint32_t pauses_ms[8] = {};  // before each further try of an address, growing
  std::uint32_t pauses = 0;        // how many of them
};
// 30 s of silence is a stall; pauses of 2, 4, 8, 16 and 30 s (a minute in all).
DownloadPatience shipped_download_patience();
// The program carries them after the 16 bytes "TarnelPatience:\0", as a
// DownloadPatience; tests rewrite a copy.
inline constexpr char kPatienceMarker[] = "TarnelPatience:";

// Which address the next try goes to, and after what pause. A try that got
// further than any before it (more bytes in the file) starts the pauses
// anew; an address that never gave a byte while a mirror follows it gives
// way at once; an address that has used up its pauses gives way to the next;
// after the last one, the download has failed.
class DownloadTries {
 public:
  DownloadTries(std::size_t addresses, const DownloadPatience& patience)
      : addresses_(addresses), patience_(patience) {}
  std::size_t address() const { return address_; }
  // After a failed try; false when none follows. `moved`: the next try is
  // on another address (from byte 0).
  bool next(bool got_further, std::uint32_t* pause_ms, bool* moved);

 private:
  std::size_t addresses_, address_ = 0, pause_ = 0;
  bool delivered_ = false;
  DownloadPatience patience_;
};

// The validator a resumed request sends in If-Range: a strong ETag, else
// Last-Modified, else none (the download then starts again from byte 0).
std::string download_validator(std::string_view etag, std::string_view last_modified);
// An answer that no address will better: a proxy asking for credentials
// (407), a network asking to sign in (511), or a page (text/html) where a
// package was asked for: a captive portal's own.
bool network_blocked(std::uint32_t status, std::string_view content_type);

// A download kept so far, enough to continue it: the address the bytes came
// from, its validator, how many are in the file, and their digest.
struct PartialDownload {
  rt::Text url;
  std::string validator;
  std::uint64_t received = 0;
  Sha256 digest;
  // Nothing kept: the next try starts at byte 0.
  void restart() {
    validator.clear();
    received = 0;
    digest = Sha256();
  }
};

// Fetches `url` into an open file `file_handle` (a HANDLE, written from its
// current position) and reports every chunk. `received` gets the whole byte
// count in 64 bits. Only a 200 answer is taken; a redirect is followed
// only where redirect_allowed says; a gzip or deflate body is decoded here
// and cut off past kMaxExpansion times its compressed size. One try, watched
// as download_resuming's are (install_cancel_requested() ends it within a
// second, 30 s of silence is a failure); nothing is tried again. With
// `digest`, every byte written to the file goes through it too (no second
// pass to check it).
std::int32_t download_to(const rt::Text& url, void* file_handle, DownloadProgressHandler on_progress,
                         std::uint64_t* received = nullptr, Sha256* digest = nullptr);

// 0 when the whole body arrived and the file is closed; -1 on any failure:
// no connection, an HTTP status other than 200 (206 when resuming; no file
// is created then), a file that cannot be written, or a body that broke off
// (the bytes received so far stay in the file); -2 when cancelled.
//
// Without `resume` the file is created or truncated. With `resume` the
// request asks for the bytes from `start_offset` on: a 206 answer whose range
// starts there is written into the existing file at `start_offset` (the
// file is cut there first, and must already hold that many bytes); a 200
// answer carries the whole body and replaces the file as without `resume`.
std::int32_t download_file(const rt::Text& url, const rt::Text& save_path, DownloadProgressHandler on_progress,
                           std::int32_t start_offset, bool resume);

// The download the installer makes: `urls` (an address, then its mirrors)
// into the open file `file_handle` (a HANDLE opened for reading and
// writing), continuing `partial` when it names the first address tried and
// holds bytes. Each try runs on a thread of its own and is watched from the
// calling one: a try silent for patience.stall_ms is given up and the next
// asks for the rest ("Range" with "If-Range"); a 206 continues the file, a
// 200 starts it again from byte 0, a 416 or another validator starts again.
// A cancel closes the request from this side and returns within a second.
// `partial` is kept current (bytes, validator, digest over the whole file),
// so that the caller can continue it later. kDownloadOk, kDownloadFailed
// (every try failed, or the network is blocked: at once), kDownloadCancelled.
std::int32_t download_resuming(const std::vector<rt::Text>& urls, void* file_handle,
                               DownloadProgressHandler on_progress, PartialDownload& partial,
                               const DownloadPatience& patience = shipped_download_patience());

}  // namespace installer
