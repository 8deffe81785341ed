// One install timed as a person makes it, and the installer's memory.
//   install_win_bench.exe install INSTALLER.exe TARGET_FOLDER
//     starts the installer, puts TARGET_FOLDER into its folder box, clicks
//     "立即安装" and waits for the finish page. Prints one line:
//       <ms from the click to the finish page> <peak working set, bytes> <page>
//     page 3 is the finish page; anything else means the install failed.
//   install_win_bench.exe extract ARCHIVE TARGET_FOLDER
//     the installer's package step alone, as an install runs it: the folder
//     made and its journal begun (prepare_install_folder), unpack_package
//     (every entry noted in the journal before it is made, earlier files
//     moved aside into backups, the file list into the uninstaller, the
//     archive deleted), then the journal committed (the backups deleted); no
//     window, no marshalling. Over a folder holding an installation of the
//     same package this is an upgrade. Prints <ms> <entries> <1 when every
//     entry was written and the run committed>.
//   install_win_bench.exe idle PROGRAM.exe
//     starts a program, waits for its window, prints its peak working set:
//     what the same counter gives for a process that does nothing.
//   install_win_bench.exe close INSTALLER.exe home|download|finish TARGET_FOLDER
//     starts the installer and asks it to close (WM_CLOSE) on the home page,
//     on the installing page while its package downloads (a "net"
//     installer: the close cancels the download and takes the run back), or
//     on the finish page once the run has ended; clicks "确定" in the close
//     question and prints <ms from the button's release to the installer
//     window gone> <ms to the process's end> <exit code>.
//   install_win_bench.exe closewin PROGRAM.exe
//     the same figures for a program whose one window closes when asked,
//     from the WM_CLOSE posted to it.
// The peak working set is GetProcessMemoryInfo's PeakWorkingSetSize of the
// other process; Wine's server answers it from the high-water mark of the
// process's resident memory in Linux (VmHWM of /proc/<pid>/status).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <utility>

#include "installer/steps/extract.h"
#include "installer/steps/install_folder.h"
#include "tests/e2e/support/installer_fixture.h"

namespace {

double now_ms() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) * 1000.0 / double(f.QuadPart);
}

SIZE_T peak_working_set(DWORD pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!h) return 0;
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  SIZE_T peak = GetProcessMemoryInfo(h, &pmc, sizeof pmc) ? pmc.PeakWorkingSetSize : 0;
  CloseHandle(h);
  return peak;
}

// Clicks a button (posted, at its centre); the time starts when it comes up,
// as a person's click ends.
double click_timed(HWND button) {
  RECT r;
  GetClientRect(button, &r);
  LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
  double start = now_ms();
  PostMessageW(button, WM_LBUTTONUP, 0, at);
  return start;
}

int install(const std::string& exe, const std::string& target) {
  e2e::Installer setup(exe);
  if (!setup.ok()) {
    std::fprintf(stderr, "install_win_bench: no installer window\n");
    return 1;
  }
  setup.set_text("安装目录", target);
  if (setup.text("安装目录") != target) {
    std::fprintf(stderr, "install_win_bench: the folder box did not take the target\n");
    return 1;
  }
  double start = click_timed(setup.unit("立即安装"));
  // Polled often: the figure is only as fine as the polling. The page units
  // belong to another process, so each look is a few server round trips.
  int page = -1;
  while (now_ms() - start < 40 * 60 * 1000.0) {
    page = setup.page();
    if (page == 3 || page == 4) break;
    Sleep(5);
  }
  double took = now_ms() - start;
  // The shortcuts and the uninstall entry may still be made after the page
  // turned: let the worker end before the peak is read.
  Sleep(1000);
  SIZE_T peak = peak_working_set(setup.process().pid());
  std::printf("%.0f %lu %d\n", took, static_cast<unsigned long>(peak), page);
  setup.process().kill();
  return page == 3 ? 0 : 1;
}

// Prints the ms from `start` to the window gone and to the process's end, and its exit code.
int print_end(e2e::Process& process, HWND window, double start) {
  double gone = -1;
  DWORD code = 99;
  bool ended = false;
  while (!ended && now_ms() - start < 60000.0) {
    if (gone < 0 && !IsWindow(window)) gone = now_ms() - start;
    ended = process.wait(1, &code);
  }
  double end = now_ms() - start;
  std::printf("%.0f %.0f %lu\n", gone < 0 ? end : gone, end, static_cast<unsigned long>(code));
  return ended ? 0 : 1;
}

int close_after_ok(const std::string& exe, const std::string& where, const std::string& target) {
  e2e::Installer setup(exe);
  if (!setup.ok()) {
    std::fprintf(stderr, "install_win_bench: no installer window\n");
    return 1;
  }
  if (where != "home") {
    setup.set_text("安装目录", target);
    setup.click("立即安装");
    bool ready = where == "finish"
                     // The run over: the shortcuts and the entry are made after the page turns.
                     ? setup.wait_page(3, 10 * 60 * 1000) && (Sleep(1000), true)
                     // Bytes arriving.
                     : e2e::wait_until([&] { return setup.page() == 2 && setup.progress("进度条") > 0; }, 60000);
    if (!ready) {
      std::fprintf(stderr, "install_win_bench: no %s state (page %d)\n", where.c_str(), setup.page());
      return 1;
    }
  }
  PostMessageW(setup.window(), WM_CLOSE, 0, 0);
  HWND prompt = setup.prompt(30000);
  HWND ok = prompt ? e2e::wait_unit(prompt, "确定", 5000) : nullptr;
  // Its message filled: the prompt has finished opening.
  if (!ok || !e2e::wait_until([&] { return !e2e::window_text(e2e::find_unit(prompt, "信息标签")).empty(); }, 5000)) {
    std::fprintf(stderr, "install_win_bench: no close question\n");
    return 1;
  }
  return print_end(setup.process(), setup.window(), click_timed(ok));
}

// The peer: a program's one window asked to close (WM_CLOSE), nothing asked.
int close_peer(const std::string& exe) {
  e2e::Process p = e2e::Process::start(exe);
  HWND window = p.started() ? e2e::wait_window(p.pid(), 30000) : nullptr;
  if (!window) return 1;
  Sleep(300);
  PostMessageW(window, WM_CLOSE, 0, 0);
  return print_end(p, window, now_ms());
}

class Host final : public installer::PackageStepHost {
 public:
  void set_progress(int) override {}
};

int extract(const std::string& archive, const std::string& target) {
  Host host;
  rt::Text list;
  double start = now_ms();
  installer::begin_install_run();
  if (installer::prepare_install_folder(rt::Text(target)) != installer::FolderCheck::kReady) {
    std::fprintf(stderr, "install_win_bench: the folder could not be prepared\n");
    return 1;
  }
  installer::PackageOutcome outcome =
      installer::unpack_package(rt::Text(archive), rt::Text(target), rt::Text(target + "\\uninst.exe"), list, host);
  bool ok = outcome.succeeded() ? installer::this_run().journal().commit() : (installer::undo_this_run(), false);
  std::printf("%.0f %d %d\n", now_ms() - start, outcome.entries, ok ? 1 : 0);
  return ok ? 0 : 1;
}

int idle(const std::string& exe) {
  e2e::Process p = e2e::Process::start(exe);
  if (!p.started() || !e2e::wait_window(p.pid(), 30000)) return 1;
  Sleep(500);
  std::printf("%lu\n", static_cast<unsigned long>(peak_working_set(p.pid())));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "install" && argc == 4) return install(argv[2], argv[3]);
  if (command == "idle" && argc == 3) return idle(argv[2]);
  if (command == "extract" && argc == 4) return extract(argv[2], argv[3]);
  if (command == "close" && argc == 5) return close_after_ok(argv[2], argv[3], argv[4]);
  if (command == "closewin" && argc == 3) return close_peer(argv[2]);
  std::fprintf(stderr,
               "usage: install_win_bench install INSTALLER.exe TARGET | extract ARCHIVE TARGET | idle PROGRAM.exe | "
               "close INSTALLER.exe home|download|finish TARGET | closewin PROGRAM.exe\n");
  return 2;
}
