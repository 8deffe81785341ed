// A small Windows program whose resources the PE resource tests change and
// then read through Windows itself: run as
//   pe_probe TYPE NAME SIZE [FIRST-BYTE]
// it exits 0 when its own file holds that resource with that size (and first
// byte), 2 when the resource is missing, 3 when it differs.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) return 1;
  HRSRC found = FindResourceA(nullptr, argv[2], argv[1]);
  if (!found) return 2;
  DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  const unsigned char* data = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
  if (!data || size != std::strtoul(argv[3], nullptr, 10)) return 3;
  if (argc > 4 && size > 0 && data[0] != static_cast<unsigned char>(argv[4][0])) return 3;
  return 0;
}
