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

// The facility's handle, made on first use and shared by the whole module. Inline: every
// operation asks it whether its level is on, so the question costs a load, not a call.
inline Zin::TraceFacility& trace() {
   static Zin::TraceFacility& facility = Zin::traceFacility(kTraceFacility);
   return facility;
}

}  // namespace BfTwiceNatAddrOnly

// Stops the process unless `cond` holds, reporting `exprText` and the function text `fn`.
#define BF_CHECK(cond, exprText, fn) \
   ZIN_ASSERT(cond, exprText, ::BfTwiceNatAddrOnly::kSourceName, fn)

// Writes one level-9 record of the module when that level is enabled.
#define BF_TRACE(fn, expr)                                                     \
   ZIN_TRACE(::BfTwiceNatAddrOnly::trace(), ::BfTwiceNatAddrOnly::kTraceLevel, \
             ::BfTwiceNatAddrOnly::kSourceName, fn, expr)
