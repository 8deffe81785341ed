// The fatal runtime report: every broken rule of the value model ends here.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/value/codepage.h"
#include "runtime/value/value.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace rt {

namespace {

const char* const kKindMessages[] = {
    "",
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

void show_report(const std::string& report) {
#ifdef _WIN32
  // Wide call with an explicit code page 936 conversion: the Chinese report
  // reads correctly whatever the system's ANSI code page is.
  std::wstring text = wide_path(report);
  std::wstring caption = wide_path("错误");
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR);
#else
  std::string utf8 = utf8_from_cp936(report);
  std::fputs(utf8.c_str(), stderr);
  std::fputc('\n', stderr);
#endif
}

std::atomic<ReportSink> g_sink{nullptr};
std::atomic<bool> g_reporting{false};

[[noreturn]] void report_and_exit(const std::string& report) {
  // A second fatal error while the first is being shown (another thread, or
  // the sink itself failing) must not show a second box: just end.
  if (!g_reporting.exchange(true)) {
    ReportSink sink = g_sink.load();
    if (sink)
      sink(report);
    else
      show_report(report);
  }
  std::fflush(nullptr);
  std::exit(-1);
}

}  // namespace

const char* error_kind_message(int kind) {
  if (kind < 1 || kind > 11) return "";
  return kKindMessages[kind];
}

std::string format_report(int kind, std::string_view message, const ErrorSite& site) {
  std::string location = "\r\n" + std::to_string(site.routine) + ", " + std::to_string(site.position);
  if (site.window) {
    location += site.window[0] ? "\r\n\"" + std::string(site.window) + "\"" : std::string("\r\n未找到所指定的窗口");
    if (site.unit)
      location += site.unit[0] ? "\r\n\"" + std::string(site.unit) + "\"" : std::string("\r\n未找到所指定的窗口组件");
  }
  location += "\r\n";

  std::string text = "运行时出错!\r\n";
  if (kind != 0) {
    text += "\r\n错误代码：";
    text += std::to_string(kind);
    text += "\r\n";
  }
  if (!message.empty()) {
    text += "\r\n错误信息：";
    text += message;
    text += "\r\n";
  }
  return text + location;
}

void rt_error(int kind, int routine, int position) {
  ErrorSite site;
  site.routine = routine;
  site.position = position;
  rt_error_at(kind, site);
}

void rt_error_at(int kind, const ErrorSite& site) {
  report_and_exit(format_report(kind, error_kind_message(kind), site));
}

void rt_fail(std::string_view message, const ErrorSite& site) {
  report_and_exit(format_report(0, message, site));
}

ReportSink set_report_sink(ReportSink sink) { return g_sink.exchange(sink); }

}  // namespace rt
