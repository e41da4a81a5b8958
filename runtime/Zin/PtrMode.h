#pragma once
// How reference counts change: atomically when objects cross threads, plainly otherwise.
// The agent picks the mode once, at start, before it creates any counted object.
#include <atomic>

#include "Zin/Types.h"

namespace Zin {

enum class PtrMode : U8 { plain = 0, threadSafe = 1 };

PtrMode ptrMode();
// Throws Zin::Exception once a counted object exists: a count changed in one mode and
// released in the other would be torn.
void ptrModeIs(PtrMode mode);

namespace detail {
extern bool gThreadSafePtrs;
// Set by every counted object's constructor, possibly on many threads at once.
extern std::atomic<bool> gPtrModeFrozen;
}  // namespace detail

}  // namespace Zin
