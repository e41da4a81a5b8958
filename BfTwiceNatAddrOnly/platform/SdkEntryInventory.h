#pragma once
// What the SDK can say about the table's entries as a whole, for an agent that must find out
// after a restart what the chip holds: the entries by handle and the default entry of each
// pipe of the current scope. The library itself never calls it; the agent's start does.
#include <cstddef>

#include "BfTwiceNatAddrOnly/platform/BfnTable.h"

namespace BfnTable {

class SdkEntryInventory {
 public:
   virtual ~SdkEntryInventory() = default;

   // Binds other state (the key table) to this chip: random, non-zero, fixed at its creation.
   virtual U64 deviceIdentity() const = 0;
   // Entries the table can hold, and holds now (defaults not counted).
   virtual U64 entryCapacity() const = 0;
   virtual U64 entryCount() const = 0;
   // Up to `max` handles of ordinary entries in increasing order, the first above `after`
   // (0: from the lowest), into `out`; returns how many. An empty answer ends the walk.
   virtual std::size_t entryHandles(BfnSdkEntryHandle after, BfnSdkEntryHandle* out,
                                    std::size_t max) const = 0;
   // True when an ordinary entry with this handle is held.
   virtual bool entryHeld(BfnSdkEntryHandle handle) const = 0;

   // The default entry of one pipe of the current scope (one for an all-pipes table).
   struct DefaultEntry {
      BfnSdkEntryHandle handle = 0;
      bool set = false;  // holds an action other than the one a reset leaves
   };
   // The defaults of the current scope, up to `max`, into `out`; returns how many.
   virtual std::size_t defaultEntries(DefaultEntry* out, std::size_t max) const = 0;
   // True when `handle` is the handle of a default entry of the current scope.
   virtual bool defaultHandle(BfnSdkEntryHandle handle) const = 0;
};

}  // namespace BfnTable
