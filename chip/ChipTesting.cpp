// Test hooks of the chip that the product leaves out.
#include "chip/Chip.h"

namespace chip {

Status Chip::rawParamIs(uint32_t handle, unsigned index, uint32_t value) {
   writable();
   if (index >= kParams) return status::kInvalidArg;
   uint32_t s = slotOf(handle, kAnyPipe);
   if (s == kNoSlot) return status::kNotFound;
   ActionRec act = slots_[s].act;
   act.params[index] = value;
   actionRewrite(kIntentModify, s, handle, act);
   return status::kOk;
}

}  // namespace chip
