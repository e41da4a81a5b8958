#pragma once
// The simulated chip's answer to what an agent asks at its start: the table's entries by
// handle and its defaults in the current scope.
#include <vector>

#include "BfTwiceNatAddrOnly/platform/SdkEntryInventory.h"
#include "chip/Chip.h"

namespace chip {

class ChipInventory final : public BfnTable::SdkEntryInventory {
 public:
   explicit ChipInventory(Chip const& chip) : chip_(chip) {}

   U64 deviceIdentity() const override { return chip_.identity(); }
   U64 entryCapacity() const override { return chip_.capacity(); }
   U64 entryCount() const override { return chip_.count(); }
   // A walk from 0 takes the handles as they are then, once; later calls page through them.
   std::size_t entryHandles(BfnTable::BfnSdkEntryHandle after, BfnTable::BfnSdkEntryHandle* out,
                            std::size_t max) const override;
   bool entryHeld(BfnTable::BfnSdkEntryHandle handle) const override {
      return chip_.entrySlot(handle) != kNoSlot;
   }
   std::size_t defaultEntries(DefaultEntry* out, std::size_t max) const override;
   bool defaultHandle(BfnTable::BfnSdkEntryHandle handle) const override;

 private:
   Chip const& chip_;
   // Handles in increasing order, as a walk from 0 found them: the chip keeps its entries by
   // slot, and hands handles out in increasing order but reuses slots.
   mutable std::vector<uint32_t> handles_;
};

}  // namespace chip
