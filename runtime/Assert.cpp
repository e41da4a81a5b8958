#include "Zin/Assert.h"

#include <cstdio>
#include <cstring>
#include <string_view>

// The C library's assertion failure; declared here because <cassert> hides it under NDEBUG,
// and these checks stay on in every build.
extern "C" [[noreturn]] void __assert_fail(char const* assertion, char const* file,
                                           unsigned int line, char const* function) noexcept;

namespace Zin {

void assertFail(char const* expression, char const* source, U32 line, char const* function) {
   std::fflush(stdout);
   __assert_fail(expression, source, line, function);
}

void strongAssertFail(char const* condition, String const& diagnostic, char const* source, U32 line,
                      char const* function) {
   std::fprintf(stderr, "%s:%u: %s: strong assertion %s failed:%s\n", source,
                static_cast<unsigned>(line), function, condition, diagnostic.c_str());
   // Appended in place: the chained operator+ form trips GCC 12's -Wrestrict at -O3.
   std::string_view const suffix = "\" == nullptr";
   String expression;
   expression.reserve(std::strlen(condition) + suffix.size() + 1);
   expression += '"';
   expression += condition;
   expression += suffix;
   assertFail(expression.c_str(), source, line, function);
}

}  // namespace Zin
