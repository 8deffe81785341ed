#include "installer/steps/progress.h"

#include <cmath>
#include <string>

#include "installer/steps/host.h"

namespace installer {
namespace {

std::int32_t truncate_to_int32(double x) {
  if (!std::isfinite(x)) return 0;
  if (x >= 2147483647.0) return 2147483647;
  if (x <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(x);  // toward zero
}

}  // namespace

ProgressFigures progress_figures(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms) {
  ProgressFigures f;
  f.received = received;
  f.total = total;
  if (total > 0 && received > 0) {
    std::int32_t percent = truncate_to_int32(static_cast<double>(received) * 100.0 / total);
    f.percent = percent > 100 ? 100 : percent;
  }
  if (elapsed_ms > 0 && received > 0)
    f.speed_kbps = truncate_to_int32(static_cast<double>(received) / (elapsed_ms / 1000.0) / 1024.0);
  return f;
}

ProgressFigures DownloadProgress::snapshot() const {
  ProgressFigures f;
  f.percent = percent.load(std::memory_order_relaxed);
  f.speed_kbps = speed_kbps.load(std::memory_order_relaxed);
  f.received = received.load(std::memory_order_relaxed);
  f.total = total.load(std::memory_order_relaxed);
  return f;
}

DownloadProgress& download_progress() {
  static DownloadProgress progress;
  return progress;
}

rt::Text progress_status_text(int percent) {
  return rt::text_concat({"正在安装中 ", std::to_string(percent), "%，请稍侯..."});
}

rt::Text installing_status_text(int percent) {
  return install_cancel_requested() ? rt::Text(kCancellingStatus) : progress_status_text(percent);
}

void reset_download_progress() { on_download_progress(0, 0, 30); }

void on_download_progress(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms) {
  ProgressFigures f = progress_figures(total, received, elapsed_ms);
  DownloadProgress& p = download_progress();
  p.percent.store(f.percent, std::memory_order_relaxed);
  p.speed_kbps.store(f.speed_kbps, std::memory_order_relaxed);
  p.received.store(f.received, std::memory_order_relaxed);
  p.total.store(f.total, std::memory_order_relaxed);
}

}  // namespace installer
