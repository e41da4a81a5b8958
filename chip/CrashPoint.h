#pragma once
// Deterministic crash points for crash-safety tests. Every store to persistent state (the chip
// file, the key table) is preceded by crashPoint(). With TWICENAT_CRASH_AT=N in the environment
// the process kills itself with SIGKILL just before its N-th such store, exactly as a kill -9
// would land there; a test sweeps N upwards until the run finishes without being killed, and
// checks after each crash that the next start recovers. Without the variable (or with 0) the
// hook costs one predictable branch.
//
// Header-only on purpose: the counter is a function-local static of an inline function, which
// the dynamic linker unifies across the shared libraries of a process, so the chip and the key
// table count into one sequence.
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace chip {

namespace detail {

struct CrashCounter {
   uint64_t at = 0;    // 0: never
   uint64_t seen = 0;  // stores so far
   CrashCounter() {
      if (char const* v = std::getenv("TWICENAT_CRASH_AT")) at = std::strtoull(v, nullptr, 10);
   }
};

inline CrashCounter& crashCounter() {
   static CrashCounter counter;
   return counter;
}

}  // namespace detail

inline void crashPoint() {
   detail::CrashCounter& c = detail::crashCounter();
   if (c.at != 0 && ++c.seen == c.at) {
      ::kill(::getpid(), SIGKILL);
      ::_exit(137);  // not reached
   }
}

// For a forked test child, whose counter the parent may already have made: crash before the
// n-th store from now on (0: never).
inline void crashAtIs(uint64_t n) {
   detail::CrashCounter& c = detail::crashCounter();
   c.at = n;
   c.seen = 0;
}

// Stores counted so far in this process (counted only while TWICENAT_CRASH_AT is set).
inline uint64_t crashPointsSeen() {
   return detail::crashCounter().seen;
}

}  // namespace chip
