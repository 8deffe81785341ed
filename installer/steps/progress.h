// The installer's download progress: the handler that every download reports
// to, and the four figures it leaves for the window's progress timer.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/value/value.h"

namespace installer {

// What a progress report means to a person.
struct ProgressFigures {
  std::int32_t percent = 0;     // 0-100; 0 while the total is unknown
  std::int32_t speed_kbps = 0;  // KB per second since the download began
  std::int32_t received = 0;    // bytes, as reported
  std::int32_t total = 0;       // bytes announced by the server, 0 when unknown
};

// Truncated toward zero. With total 0 (no Content-Length) there is no
// percentage: it stays 0 and only `received` grows. A body longer than
// announced shows 100, never more; a negative received (past 2 GB) shows 0.
ProgressFigures progress_figures(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms);

// Shared between the worker (writer) and the window's timer (reader). Each
// figure is written whole; a reader may see figures of two neighbouring
// reports.
struct DownloadProgress {
  std::atomic<std::int32_t> percent{0};
  std::atomic<std::int32_t> speed_kbps{0};
  std::atomic<std::int32_t> received{0};
  std::atomic<std::int32_t> total{0};

  ProgressFigures snapshot() const;
};

DownloadProgress& download_progress();

// Zeroes the figures. Call before each download: a download that makes no
// report (an empty body) must not be judged by the figures of the one before.
void reset_download_progress();

// The status label's text for a percentage: "正在安装中 N%，请稍侯...".
rt::Text progress_status_text(int percent);

// The status label while a run installs: the percentage, or once the
// person has asked to cancel, kCancellingStatus until the window closes.
inline constexpr const char* kCancellingStatus = "正在取消安装，请稍侯...";
rt::Text installing_status_text(int percent);

// The installer's DownloadProgressHandler.
void on_download_progress(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms);

}  // namespace installer
