// HTTP downloader: fetches one URL through WinINet into a file, reporting
// after every chunk. Runs on the install worker thread.
#pragma once

#include <cstdint>

#include "runtime/value/value.h"

namespace installer {

class Sha256;

// Called after every chunk written: the announced body length (0 when the
// server sent none), the bytes received so far in this call (low 32 bits),
// and the milliseconds since the first read (never 0).
using DownloadProgressHandler = void (*)(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms);

// Bytes asked for per read, and so the largest chunk a progress call reports.
constexpr std::uint32_t kDownloadChunk = 10240;
// A compressed body may grow to this many times its compressed size, and no
// further: past that it is a bomb, not a package.
constexpr std::uint64_t kMaxExpansion = 100;
// Redirects followed before a download is given up.
constexpr int kMaxRedirects = 10;

// The request's header block; with `resume` it ends in an open-ended
// "Range:bytes=<start_offset>-" line.
rt::Text download_request_headers(bool resume, std::int32_t start_offset);

// Whether a redirect from `from` to `to` (absolute addresses) is followed:
// http and https only, and never from https down to http.
bool redirect_allowed(const rt::Text& from, const rt::Text& to);
// A Content-Length value in 64 bits; false for anything but decimal digits.
bool parse_content_length(const rt::Text& text, std::uint64_t& length);

// The result codes of a download.
constexpr std::int32_t kDownloadOk = 0;
constexpr std::int32_t kDownloadFailed = -1;
constexpr std::int32_t kDownloadCancelled = -2;  // stopped between two reads at the window's request

// Fetches `url` into an open file `file_handle` (a HANDLE, written from its
// current position) and reports every chunk. `received` gets the whole byte
// count in 64 bits. Only a 200 answer is taken; a redirect is followed
// only where redirect_allowed says; a gzip or deflate body is decoded here
// and cut off past kMaxExpansion times its compressed size. Between two
// reads it looks at install_cancel_requested(). With `digest`, every byte
// written to the file goes through it too (no second pass to check it).
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

}  // namespace installer
