#pragma once
// The shared-memory key table as the library sees it: records, an iteration cursor and the
// map that hands records out one at a time.
#include "Pemra/String.h"
#include "Zin/Types.h"

namespace Drosk {

namespace MbbPostcodef {

using EntryKey = U64;
using OpId = U32;

// One record of the key table.
struct EntryConfig {
   EntryConfig(EntryKey k, OpId op, U32 handle, U16 aux16, U32 aux32)
       : key(k), opId(op), sdkEntryHandle(handle), flags(aux16), generation(aux32) {}
   EntryKey key;
   OpId opId;
   U32 sdkEntryHandle;
   U16 flags;
   U32 generation;
};

}  // namespace MbbPostcodef

// Where an iteration stands; passed unchanged from one step to the next.
struct IterHint {
   U64 slot = 0;
   bool valid = false;
};

class DroskMapBase {
 public:
   virtual ~DroskMapBase() = default;
   // The record with the smallest key; false when the map is empty.
   // Throws Pemra::CorruptionDetectedException when the record fails its check.
   virtual bool entryFirst(MbbPostcodef::EntryConfig& out, IterHint& hint) = 0;
   // The record after `key` in the map's order; false after the last.
   // Throws Pemra::CorruptionDetectedException when the record fails its check.
   virtual bool entryNext(MbbPostcodef::EntryKey key, MbbPostcodef::EntryConfig& out,
                          IterHint& hint) = 0;
   // Takes over a detected corruption: repairs the map and reports what it dropped.
   virtual void doCorruptionDetected(Pemra::String const& message) = 0;
};

// The key manager's table config: the map of its shared-memory key table.
class MbbDroskTableConfig {
 public:
   virtual ~MbbDroskTableConfig() = default;
   virtual DroskMapBase& map() = 0;
};

}  // namespace Drosk
