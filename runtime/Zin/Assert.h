#pragma once
// Process-stopping checks. Both end in the C library's assertion failure, so the process
// stops with the usual "Assertion `...' failed." line naming expression, source, line and
// function.
#include "Pemra/String.h"
#include "Zin/Types.h"

namespace Zin {

[[noreturn]] void assertFail(char const* expression, char const* source, U32 line,
                             char const* function);

// The strong form first writes a diagnostic line to stderr, "<source>:<line>: <function>:
// strong assertion <condition> failed:<diagnostic>", then fails with the expression
// `"<condition>" == nullptr`.
[[noreturn]] void strongAssertFail(char const* condition, String const& diagnostic,
                                   char const* source, U32 line, char const* function);

}  // namespace Zin

// Checks `cond`; on failure reports `exprText` exactly as given.
#define ZIN_ASSERT(cond, exprText, source, function)                              \
   do {                                                                           \
      if (!(cond)) ::Zin::assertFail((exprText), (source), __LINE__, (function)); \
   } while (0)
