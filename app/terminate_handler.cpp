// libstdc++'s verbose terminate handler prints the demangled exception type and
// drags the whole demangler (about 46 KB) into the program. Nothing of ours
// throws across a thread's top; an escaped exception is simply a crash.
// Linked as an object of each program so that it replaces the library's.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
