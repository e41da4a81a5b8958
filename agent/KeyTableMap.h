#pragma once
// The key table as the library walks it: records in ascending key order, a damaged record
// stopping the walk with a corruption exception, and the repair that follows. Open already
// clears the damage it finds, so a walk meets only damage done since.
#include <functional>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/Drosk.h"
#include "agent/KeyTable.h"

namespace TwiceNatAgent {

class KeyTableMap final : public Drosk::DroskMapBase, public Drosk::MbbDroskTableConfig {
 public:
   using EntryKey = Drosk::MbbPostcodef::EntryKey;
   using EntryConfig = Drosk::MbbPostcodef::EntryConfig;
   // Told of every key that a repair dropped, so the owner can forget what it kept for it.
   using DropListener = std::function<void(EntryKey)>;

   KeyTableMap(KeyTable& table, DropListener onDrop);

   Drosk::DroskMapBase& map() override { return *this; }

   bool entryFirst(EntryConfig& out, Drosk::IterHint& hint) override;
   bool entryNext(EntryKey key, EntryConfig& out, Drosk::IterHint& hint) override;
   // Drops every record that fails its check and reports them on stderr.
   void doCorruptionDetected(Pemra::String const& message) override;

   // Every key dropped by a repair so far, in the order dropped.
   std::vector<EntryKey> const& droppedKeys() const { return droppedKeys_; }
   U64 repairs() const { return repairs_; }
   // The key of the record the walk handed out last, checked as it was; 0 after a repair.
   EntryKey lastKey() const { return lastKey_; }
   // That record, while lastKey() is not 0.
   EntryConfig const& lastRecord() const { return lastRecord_; }
   Pemra::String const& lastCorruption() const { return lastCorruption_; }

 private:
   bool recordFrom(U64 slot, EntryConfig& out, Drosk::IterHint& hint);

   KeyTable& table_;
   DropListener onDrop_;
   std::vector<EntryKey> droppedKeys_;
   U64 repairs_ = 0;
   EntryKey lastKey_ = 0;
   EntryConfig lastRecord_{0, 0, 0, 0, 0};
   Pemra::String lastCorruption_;
};

}  // namespace TwiceNatAgent
