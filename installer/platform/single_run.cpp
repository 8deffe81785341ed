#include "installer/format/sha256.h"
#include "installer/platform/single_run.h"

namespace installer {

rt::Text run_lock_name(const rt::Bytes& salt, const rt::Text& software_name, int slot) {
  Sha256 digest;
  digest.update(salt.data(), salt.size());
  digest.update(software_name.c_str(), software_name.size());
  if (slot != 0) {
    // The NUL keeps a slot apart from a name that ends in its number.
    const unsigned char tail[2] = {0, static_cast<unsigned char>(slot)};
    digest.update(tail, sizeof tail);
  }
  // Global: runs in two sessions (two administrators, or one person logged
  // on twice) still exclude each other.
  return rt::text_concat({"Global\\TarnelSetup-", digest.hex_digest()});
}

rt::Text another_run_message(const rt::Text& software_name) {
  return rt::text_concat({"“", software_name.view(), "”的安装或卸载程序正在运行，请等它结束后再试。"});
}

}  // namespace installer
