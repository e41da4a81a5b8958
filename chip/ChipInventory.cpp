#include "chip/ChipInventory.h"

#include <algorithm>

namespace chip {

std::size_t ChipInventory::entryHandles(BfnTable::BfnSdkEntryHandle after,
                                        BfnTable::BfnSdkEntryHandle* out, std::size_t max) const {
   if (after == 0) {
      handles_.clear();
      handles_.reserve(chip_.count());
      chip_.forEachEntry([&](EntryView const& e) { handles_.push_back(e.handle); });
      std::sort(handles_.begin(), handles_.end());
   }
   auto from = std::upper_bound(handles_.begin(), handles_.end(), after);
   std::size_t const n = std::min<std::size_t>(max, handles_.end() - from);
   std::copy_n(from, n, out);
   return n;
}

// A default holds something when its action is not the one a reset leaves.
std::size_t ChipInventory::defaultEntries(DefaultEntry* out, std::size_t max) const {
   bool const allPipes = chip_.scope() == Scope::allPipes;
   std::size_t const n = std::min<std::size_t>(max, allPipes ? 1 : chip_.pipes());
   for (std::size_t i = 0; i < n; ++i) {
      uint16_t const pipe = allPipes ? kAllPipes : uint16_t(i);
      ActionRec const& act = chip_.defaultAction(pipe);
      bool reset = act.action == ActionRec{}.action;
      for (uint32_t v : act.params)
         reset = reset && v == 0;
      out[i] = {Chip::defaultHandle(pipe), !reset};
   }
   return n;
}

bool ChipInventory::defaultHandle(BfnTable::BfnSdkEntryHandle handle) const {
   if (!Chip::isDefaultHandle(handle)) return false;
   if (chip_.scope() == Scope::allPipes) return handle == Chip::defaultHandle(kAllPipes);
   return handle - kDefaultHandleBase < chip_.pipes();
}

}  // namespace chip
