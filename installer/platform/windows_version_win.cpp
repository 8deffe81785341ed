#include <windows.h>

#include "installer/platform/windows_version.h"

namespace installer {

int windows_version_code() {
  // The Windows 95 family cannot run this program (it needs Windows 7), so
  // its sub-codes are never needed; GetVersion's top bit is how it shows.
  if (GetVersion() & 0x80000000u) return 0;
  // The numbers the system recorded for this process in its environment
  // block, so they follow the compatibility the manifest declares.
#if defined(__i386__)
  const unsigned char* peb;
  __asm__("movl %%fs:0x30, %0" : "=r"(peb));
  unsigned major = *reinterpret_cast<const ULONG*>(peb + 0xA4);
  unsigned minor = *reinterpret_cast<const ULONG*>(peb + 0xA8);
#else
  const unsigned char* peb;
  __asm__("movq %%gs:0x60, %0" : "=r"(peb));
  unsigned major = *reinterpret_cast<const ULONG*>(peb + 0x118);
  unsigned minor = *reinterpret_cast<const ULONG*>(peb + 0x11C);
#endif
  return version_code_for(major, minor);
}

}  // namespace installer
