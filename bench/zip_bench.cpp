// Extraction speed of our ZIP reader against Info-ZIP unzip, bsdtar and raw
// zlib inflate of the same data (the limit), on a 500 MB archive of mixed
// files (text, incompressible data, many small files) made with Info-ZIP zip.
// Also the peak memory of our extraction for a 50 MB and the 500 MB archive:
// it must not grow with the archive. Everything lives in <build>/bench/.
//
// Usage: zip_bench [work folder]   (default: build/bench below the current folder)
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip.h"

namespace fs = std::filesystem;

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int sh(const std::string& command) { return std::system(command.c_str()); }

// Pseudo-text that deflates about as well as source code or documents.
std::string text_block(std::mt19937& rng, std::size_t n) {
  static const char* words[] = {"install", "package", "window ", "folder ", "the ", "and ", "of ", "setup",
                                "{\n  ", "}\n", "return ", "value", "archive", "entry ", "0x1F", "text;\n",
                                "安装", "程序", "目录", "文件"};
  std::string s;
  s.reserve(n + 16);
  while (s.size() < n) s += words[rng() % (sizeof words / sizeof *words)];
  s.resize(n);
  return s;
}

void write_file(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// A tree of about `megabytes` MB: 40 % large text files, 30 % random data,
// 30 % small files of 10 KB.
void make_tree(const fs::path& dir, std::size_t megabytes) {
  std::mt19937 rng(1);
  const std::size_t mb = 1 << 20;
  std::size_t text = megabytes * 4 / 10, random = megabytes * 3 / 10, small = megabytes - text - random;
  for (std::size_t i = 0; i < text / 8; ++i) write_file(dir / "text" / ("t" + std::to_string(i) + ".txt"), text_block(rng, 8 * mb));
  for (std::size_t i = 0; i < random / 10; ++i) {
    std::string r(10 * mb, '\0');
    for (char& c : r) c = char(rng());
    write_file(dir / "bin" / ("r" + std::to_string(i) + ".bin"), r);
  }
  for (std::size_t i = 0; i < small * 100; ++i)
    write_file(dir / "small" / std::to_string(i % 50) / ("s" + std::to_string(i) + ".cfg"), text_block(rng, 10 * 1024));
}

fs::path make_archive(const fs::path& work, std::size_t megabytes) {
  fs::path zip = work / ("mixed-" + std::to_string(megabytes) + "mb.zip");
  if (fs::exists(zip)) return zip;
  fs::path tree = work / ("tree-" + std::to_string(megabytes));
  std::printf("making %s ...\n", zip.c_str());
  std::fflush(stdout);
  make_tree(tree, megabytes);
  sh("cd '" + tree.string() + "' && zip -qr '" + zip.string() + "' .");
  fs::remove_all(tree);
  return zip;
}

// Our reader: every entry extracted below `out`, as the package step does.
int extract_ours(const fs::path& zip, const fs::path& out) {
  rt::ZipArchive a;
  if (a.open(rt::Text(zip.string())) != rt::kZipOk) return 1;
  int failures = 0;
  for (std::size_t i = 0; i < a.count(); ++i) {
    rt::ZipEntry e;
    a.describe(std::int64_t(i), e);
    if (a.extract(std::int64_t(i), rt::Text((out / e.name).string())) != rt::kZipOk) ++failures;
  }
  return failures;
}

// The limit: walks the local headers (Info-ZIP wrote the sizes into them)
// and inflates every deflated entry into a scratch buffer; no CRC, nothing
// written.
std::uint64_t inflate_all(const fs::path& zip) {
  FILE* f = std::fopen(zip.c_str(), "rb");
  if (!f) return 0;
  std::vector<unsigned char> in(1 << 16), out(1 << 16);
  std::uint64_t total = 0;
  unsigned char h[30];
  while (std::fread(h, 1, 30, f) == 30 && h[0] == 'P' && h[1] == 'K' && h[2] == 3 && h[3] == 4) {
    auto u16 = [&](int o) { return unsigned(h[o] | h[o + 1] << 8); };
    auto u32 = [&](int o) { return std::uint32_t(u16(o) | u16(o + 2) << 16); };
    unsigned method = u16(8);
    std::uint64_t left = u32(18);
    std::fseek(f, long(u16(26) + u16(28)), SEEK_CUR);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    while (left > 0) {
      std::size_t n = std::fread(in.data(), 1, std::min<std::uint64_t>(in.size(), left), f);
      if (n == 0) break;
      left -= n;
      if (method != 8) {
        total += n;
        continue;
      }
      z.next_in = in.data();
      z.avail_in = uInt(n);
      do {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        if (inflate(&z, Z_NO_FLUSH) < 0) break;
        total += out.size() - z.avail_out;
      } while (z.avail_in > 0 || z.avail_out == 0);
    }
    inflateEnd(&z);
  }
  std::fclose(f);
  return total;
}

struct Run {
  double seconds;
  double cpu_seconds;
  long peak_kb;
};

// Runs a shell command as a child process: wall time, CPU time and peak
// memory of the process tree.
Run measure(const std::string& command) {
  double start = now();
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("(%s failed)\n", command.c_str());
  return {now() - start, cpu, usage.ru_maxrss};
}

}  // namespace

int main(int argc, char** argv) {
  // The child modes, run as fresh processes so that their memory is their own.
  if (argc == 4 && std::string(argv[1]) == "--extract") return extract_ours(argv[2], argv[3]) == 0 ? 0 : 1;
  if (argc == 3 && std::string(argv[1]) == "--inflate") return inflate_all(argv[2]) > 0 ? 0 : 1;

  fs::path work = fs::absolute(argc > 1 ? fs::path(argv[1]) : fs::path("build") / "bench");
  fs::create_directories(work);
  fs::path big = make_archive(work, 500);
  fs::path small = make_archive(work, 50);
  fs::path out = work / "out";
  std::string self = fs::canonical("/proc/self/exe").string();
  auto fresh = [&] {
    fs::remove_all(out);
    fs::create_directories(out);
    sh("sync");
  };
  auto q = [](const fs::path& p) { return "'" + p.string() + "'"; };
  std::printf("archive: %s, %.0f MB compressed\n", big.c_str(), double(fs::file_size(big)) / 1e6);

  fresh();
  Run limit = measure(self + " --inflate " + q(big));
  fresh();
  Run ours = measure(self + " --extract " + q(big) + " " + q(out));
  fresh();
  Run unzip = measure("unzip -qo " + q(big) + " -d " + q(out));
  fresh();
  Run bsdtar = measure("bsdtar -xf " + q(big) + " -C " + q(out));
  fresh();
  Run ours_small = measure(self + " --extract " + q(small) + " " + q(out));
  fs::remove_all(out);

  std::printf("%-18s %8s %8s %12s %12s\n", "", "wall s", "CPU s", "wall/ours", "CPU/ours");
  auto row = [&](const char* name, const Run& r) {
    std::printf("%-18s %8.2f %8.2f %12.2f %12.2f\n", name, r.seconds, r.cpu_seconds, r.seconds / ours.seconds,
                r.cpu_seconds / ours.cpu_seconds);
  };
  row("raw zlib inflate", limit);
  row("our reader", ours);
  row("Info-ZIP unzip", unzip);
  row("bsdtar", bsdtar);
  std::printf("peak memory of our extraction: %ld KB (50 MB archive), %ld KB (500 MB archive)\n", ours_small.peak_kb,
              ours.peak_kb);
  return 0;
}
