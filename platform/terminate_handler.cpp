// What std::terminate does by default. libstdc++'s own handler prints the
// uncaught exception's demangled type to stderr, which a GUI program does not
// have, and drags the whole demangler into the executable for it. Defining it
// here keeps the library's version, and with it the demangler, out.
#include <cstdlib>

namespace __gnu_cxx {  // NOLINT(bugprone-reserved-identifier): libstdc++'s name

// NOLINTNEXTLINE(bugprone-reserved-identifier): replaces libstdc++'s definition
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
