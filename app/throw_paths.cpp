// The C++ library's failure paths, replaced: linked as an object of each
// program so that these take the place of the library's own.
//
// Nothing of ours catches an exception (the programs are built without
// them), so whatever the library throws ends in std::terminate, which ends
// the program with abort(). These end it the same way, directly: the
// unwinder, the exception classes and the string code they drag in (about
// 100 KB) stay out.
#include <cstdlib>

// The verbose terminate handler prints the demangled exception type: the
// whole demangler (about 46 KB).
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// What the library's templates call where the standard says "throws".
namespace std {
void __throw_bad_exception() { abort(); }
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }
void __throw_system_error(int) { abort(); }
void __throw_bad_function_call() { abort(); }
}  // namespace std

