#pragma once
// The module's trace facility, source name and process-stopping checks.
#include "Zin/Assert.h"
#include "Zin/Trace.h"

namespace BfTwiceNatAddrOnly {

// The source name that every trace record and failed check of this module reports.
inline constexpr char kSourceName[] = "bf_tolvex_switch/zin/BfTwiceNatAddrOnly/BfTwiceNatAddrOnly";
inline constexpr char kTraceFacility[] = "BfTwiceNatAddrOnly";
// Every record of this module is written at this level.
inline constexpr U8 kTraceLevel = 9;

// The facility's handle, bound when the module is loaded. Every operation asks it whether its
// level is on; hidden in the module, the question is one load off the module's own data, with
// no guard of a first use and no indirection through the symbol table.
[[gnu::visibility("hidden")]] extern Zin::TraceFacility& gTrace;
inline Zin::TraceFacility& trace() {
   return gTrace;
}

}  // namespace BfTwiceNatAddrOnly

// Stops the process unless `cond` holds, reporting `exprText` and the function text `fn`.
#define BF_CHECK(cond, exprText, fn) \
   ZIN_ASSERT(cond, exprText, ::BfTwiceNatAddrOnly::kSourceName, fn)

// Writes one level-9 record of the module when that level is enabled.
#define BF_TRACE(fn, expr)                                                     \
   ZIN_TRACE(::BfTwiceNatAddrOnly::trace(), ::BfTwiceNatAddrOnly::kTraceLevel, \
             ::BfTwiceNatAddrOnly::kSourceName, fn, expr)
