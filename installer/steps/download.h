// HTTP downloader: fetches one URL through WinINet into a file, reporting
// after every chunk. Runs on the install worker thread.
#pragma once

#include <cstdint>

#include "runtime/value/value.h"

namespace installer {

// Called after every chunk written: the announced body length (0 when the
// server sent none), the bytes received so far in this call (low 32 bits),
// and the milliseconds since the first read (never 0).
using DownloadProgressHandler = void (*)(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms);

// Bytes asked for per read, and so the largest chunk a progress call reports.
constexpr std::uint32_t kDownloadChunk = 10240;

// The request's header block; with `resume` it ends in an open-ended
// "Range:bytes=<start_offset>-" line.
rt::Text download_request_headers(bool resume, std::int32_t start_offset);

// 0 when the whole body arrived and the file is closed; -1 on any failure:
// no connection, an HTTP status of 400 or above (no file is created then),
// a file that cannot be written, or a body that broke off (the bytes
// received so far stay in the file).
//
// Without `resume` the file is created or truncated. With `resume` the
// request asks for the bytes from `start_offset` on: a 206 answer whose range
// starts there is written into the existing file at `start_offset` (the
// file is cut there first, and must already hold that many bytes); a 200
// answer carries the whole body and replaces the file as without `resume`.
std::int32_t download_file(const rt::Text& url, const rt::Text& save_path, DownloadProgressHandler on_progress,
                           std::int32_t start_offset, bool resume);

}  // namespace installer
