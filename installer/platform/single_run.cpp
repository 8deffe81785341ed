#include "installer/format/sha256.h"
#include "installer/platform/single_run.h"

namespace installer {

rt::Text run_lock_name(const rt::Text& software_name) {
  // Global: an installation for every user and one for a person, in two
  // sessions, still exclude each other.
  return rt::text_concat({"Global\\TarnelSetup-", sha256_hex(software_name.view()).substr(0, 32)});
}

rt::Text another_run_message(const rt::Text& software_name) {
  return rt::text_concat({"“", software_name.view(), "”的安装或卸载程序正在运行，请等它结束后再试。"});
}

}  // namespace installer
