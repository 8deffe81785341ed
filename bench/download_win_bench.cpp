// The installer's downloader fetching one URL into a file several times.
// Prints the median, min and max throughput in MB/s and the file's size.
//   download_win_bench.exe ROUNDS URL FILE
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "installer/download.h"

namespace {
void ignore_progress(std::int32_t, std::int32_t, std::int32_t) {}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_win_bench ROUNDS URL FILE\n");
    return 2;
  }
  int rounds = std::atoi(argv[1]);
  std::vector<double> rates;
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  double bytes = 0;
  for (int r = 0; r < rounds; ++r) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    if (installer::download_file(argv[2], argv[3], ignore_progress, 0, false) != 0) {
      std::fprintf(stderr, "download failed\n");
      return 1;
    }
    QueryPerformanceCounter(&b);
    WIN32_FILE_ATTRIBUTE_DATA d;
    GetFileAttributesExA(argv[3], GetFileExInfoStandard, &d);
    bytes = double(d.nFileSizeLow) + double(d.nFileSizeHigh) * 4294967296.0;
    rates.push_back(bytes / 1e6 / (double(b.QuadPart - a.QuadPart) / double(f.QuadPart)));
  }
  std::sort(rates.begin(), rates.end());
  std::printf("%.1f %.1f %.1f %.0f\n", rates[rates.size() / 2], rates.front(), rates.back(), bytes);
  return 0;
}
