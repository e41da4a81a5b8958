#include "BfTwiceNatAddrOnly/table/Resync.h"

#include "BfTwiceNatAddrOnly/table/Diagnostics.h"

namespace BfTwiceNatAddrOnly {

void resyncTable(TwiceNatAddrOnlyTable& table) {
   static constexpr char kFn[] =
       "void BfTwiceNatAddrOnly::resyncTable(BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable&)";
   MbbDroskKey::DroskKeyManager::Ptr keyManager = table.droskKeyManager();
   if (keyManager) {
      Drosk::MbbDroskTableConfig* config = keyManager->mbbDroskTableConfig();
      BF_CHECK(config, "droskKeyManager->mbbDroskTableConfig()", kFn);
      Drosk::DroskMapBase& map = config->map();
      TwiceNatAddrOnlyTableHandles::Ptr handles = table.helper()->sdkHandles();

      Drosk::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
      Drosk::IterHint hint;
      Drosk::MbbPostcodef::EntryKey highest = 0;
      // Only the map's own two steps may report corruption; the walk ends there and what was
      // processed before it stays.
      auto step = [&](bool first) {
         try {
            return first ? map.entryFirst(record, hint) : map.entryNext(record.key, record, hint);
         } catch (Pemra::CorruptionDetectedException const& e) {
            map.doCorruptionDetected(e.msg());
            return false;
         }
      };
      for (bool found = step(true); found; found = step(false)) {
         BfnTable::BfnSdkEntryHandle handle = record.sdkEntryHandle;
         TwiceNatAddrOnlyTableEntry entry = table.entryByHandle(handle);
         // A record the chip no longer holds reads back empty: its handle is kept under the
         // null match and the key manager still gets the record's key.
         handles->entryIs(entry.match(), handle);
         keyManager->populate(record.key, entry.match());
         if (record.key > highest) highest = record.key;
      }
      if (highest != 0) keyManager->highestKeyIs(highest);
   }
   if (table.statusManager()) table.statusManager()->resyncStatus();
}

}  // namespace BfTwiceNatAddrOnly
