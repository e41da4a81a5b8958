#pragma once
// Deterministic crash points for crash-safety tests. Every store to a state file (the chip, the
// key table) goes through Stow::Mapping::store, which calls crashPoint() first. With
// TWICENAT_CRASH_AT=N in the environment the process kills itself with SIGKILL just before its
// N-th such store, exactly as a kill -9 would land there; a test sweeps N upwards until the run
// finishes without being killed, and checks after each crash that the next start recovers.
// Without the variable the hook costs one load and a predictable branch.
//
// The counter lives in the runtime library, so that the chip and the key table count into one
// sequence whichever library stores.
#include <cstdint>

namespace Stow {

namespace detail {
// Nonzero while stores are counted, and until the environment has been read.
extern uint64_t gCrashArmed;
void crashCounted();
}  // namespace detail

inline void crashPoint() {
   if (__builtin_expect(detail::gCrashArmed != 0, 0)) detail::crashCounted();
}

// For a forked test child: crash before the n-th store from now on (0: never), whatever the
// environment says.
void crashAtIs(uint64_t n);

}  // namespace Stow
