#include "Zin/PtrMode.h"

#include "Zin/Exception.h"

namespace Zin {
namespace detail {
bool gThreadSafePtrs = false;
std::atomic<bool> gPtrModeFrozen{false};
}  // namespace detail

PtrMode ptrMode() {
   return detail::gThreadSafePtrs ? PtrMode::threadSafe : PtrMode::plain;
}

void ptrModeIs(PtrMode mode) {
   if (ptrMode() == mode) return;
   if (detail::gPtrModeFrozen.load(std::memory_order_relaxed)) {
      throw Exception("pointer mode can only be chosen before the first counted object exists");
   }
   detail::gThreadSafePtrs = mode == PtrMode::threadSafe;
}

}  // namespace Zin
