// The installer's downloader (download_resuming, as the package's download
// calls it: into an open file, the SHA-256 taken as the bytes are written)
// fetching one URL several times, and beside it, round by round, a bare
// WinINet read loop with 10,240-byte reads (the size it read before) and
// with 64 KiB reads (the size it reads now): what the read size alone costs.
// Prints one line per variant: name, median, min and max throughput in MB/s,
// and the size of the file of its last round.
//   download_win_bench.exe ROUNDS URL FILE
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "installer/steps/download.h"
#include "runtime/value/codepage.h"

namespace {

void ignore_progress(std::int32_t, std::int32_t, std::int32_t) {}

int shipped(const char* url, const char* file) {
  HANDLE out = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return -1;
  installer::PartialDownload partial;
  int result = installer::download_resuming({rt::Text(url)}, out, ignore_progress, partial);
  CloseHandle(out);
  return result;
}

// The downloader's loop with the same session, flags and headers, reading
// `chunk` bytes at a time. Only for measuring: the shipped loop is the one
// above.
int loop(const char* url, const char* file, DWORD chunk) {
  HINTERNET root = InternetOpenW(L"Agent", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0);
  if (!root) return -1;
  BOOL decode = TRUE;
  InternetSetOptionW(root, INTERNET_OPTION_HTTP_DECODING, &decode, sizeof decode);
  std::wstring headers = rt::wide_path(installer::download_request_headers(false, 0).view());
  HINTERNET request = InternetOpenUrlW(root, rt::wide_path(url).c_str(), headers.c_str(), DWORD(headers.size()),
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE,
                                       0);
  int result = -1;
  HANDLE out = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (request && out != INVALID_HANDLE_VALUE) {
    auto buffer = std::make_unique<unsigned char[]>(chunk);
    for (;;) {
      DWORD got = 0, written = 0;
      if (!InternetReadFile(request, buffer.get(), chunk, &got)) break;
      if (got == 0) {
        result = 0;
        break;
      }
      if (!WriteFile(out, buffer.get(), got, &written, nullptr) || written != got) break;
    }
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (request) InternetCloseHandle(request);
  InternetCloseHandle(root);
  return result;
}

struct Variant {
  const char* name;
  DWORD chunk;  // 0: the shipped downloader
  std::vector<double> rates;
  double bytes = 0;
};

double seconds() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download_win_bench ROUNDS URL FILE\n");
    return 2;
  }
  int rounds = std::atoi(argv[1]);
  Variant variants[] = {{"download_resuming", 0, {}}, {"loop-10240", 10240, {}}, {"loop-65536", 65536, {}}};
  for (int r = 0; r < rounds; ++r)
    for (Variant& v : variants) {
      double start = seconds();
      int result = v.chunk ? loop(argv[2], argv[3], v.chunk) : shipped(argv[2], argv[3]);
      double took = seconds() - start;
      if (result != 0) {
        std::fprintf(stderr, "%s: download failed\n", v.name);
        continue;
      }
      WIN32_FILE_ATTRIBUTE_DATA d;
      GetFileAttributesExA(argv[3], GetFileExInfoStandard, &d);
      v.bytes = double(d.nFileSizeLow) + double(d.nFileSizeHigh) * 4294967296.0;
      v.rates.push_back(v.bytes / 1e6 / took);
    }
  for (Variant& v : variants) {
    if (v.rates.empty()) v.rates.push_back(0);
    std::sort(v.rates.begin(), v.rates.end());
    std::printf("%s %.1f %.1f %.1f %.0f\n", v.name, v.rates[v.rates.size() / 2], v.rates.front(), v.rates.back(),
                v.bytes);
  }
  return 0;
}
