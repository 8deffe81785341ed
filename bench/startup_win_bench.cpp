// Start-up time of Windows programs: for each program given, starts it,
// waits for its first visible top-level window, ends it; several rounds,
// interleaved so that all programs see the same machine (each round takes
// them in turn, the order reversed every other round). Prints one line per
// program: name, median, min, max in milliseconds, of the rounds in which a
// window showed (-1 when none did; the count of the others goes to stderr);
// then one line per round: "round" and each program's time in that round
// (-1: no window), for ratios taken round by round.
//   startup_win_bench.exe ROUNDS program.exe [program.exe ...]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Search {
  DWORD pid;
  bool found;
};

BOOL CALLBACK find_window(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == s->pid && IsWindowVisible(hwnd)) {
    s->found = true;
    return FALSE;
  }
  return TRUE;
}

double seconds() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(f.QuadPart);
}

// Milliseconds from CreateProcess to a visible window; -1 if none in 30 s.
double one_start(const std::string& exe) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + exe + "\"";
  double start = seconds();
  if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  Search s{pi.dwProcessId, false};
  double took = -1;
  while (seconds() - start < 30) {
    EnumWindows(find_window, reinterpret_cast<LPARAM>(&s));
    if (s.found) {
      took = (seconds() - start) * 1000;
      break;
    }
    Sleep(1);
  }
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: startup_win_bench ROUNDS program.exe...\n");
    return 2;
  }
  int rounds = std::atoi(argv[1]);
  std::vector<std::vector<double>> times(argc - 2);
  for (int p = 2; p < argc; ++p) one_start(argv[p]);  // warm the file cache
  for (int r = 0; r < rounds; ++r)
    for (int k = 0; k < argc - 2; ++k) {
      int p = r % 2 == 0 ? k : argc - 3 - k;
      times[p].push_back(one_start(argv[p + 2]));
    }
  const std::vector<std::vector<double>> by_round = times;
  for (int p = 2; p < argc; ++p) {
    std::vector<double>& t = times[p - 2];
    std::sort(t.begin(), t.end());
    auto shown = std::find_if(t.begin(), t.end(), [](double ms) { return ms >= 0; });
    if (shown != t.begin()) std::fprintf(stderr, "%s: no window in %d of %d rounds\n", argv[p], int(shown - t.begin()), rounds);
    t.erase(t.begin(), shown);
    if (t.empty()) t.push_back(-1);
    std::printf("%s %.1f %.1f %.1f\n", argv[p], t[t.size() / 2], t.front(), t.back());
  }
  for (int r = 0; r < rounds; ++r) {
    std::printf("round");
    for (const std::vector<double>& t : by_round) std::printf(" %.1f", t[r]);
    std::printf("\n");
  }
  return 0;
}
