// What a key table's open does to the state a kill or damage left: the header judged (one
// damaged field among those that never change is told from a damaged check word and restored),
// then every slot once: a damaged record cleared (the agent's start adopts its chip entry
// again), a handle change cut short rolled back, and the header's derived fields recomputed.
#include <algorithm>
#include <string>

#include "KeyTableLayout.h"
#include "agent/KeyTable.h"

namespace TwiceNatAgent {

using namespace keytable;

void KeyTable::note(std::string line) {
   notes_.push_back("key table " + path_ + ": " + line +
                    (readOnly_ ? " (read-only: not saved)" : ""));
}

void KeyTable::damage(std::string line) {
   damaged_ = true;
   note(std::move(line));
}

// The fixed fields are covered by the header check. One damaged field among them is told
// apart from a damaged check by recomputing the check with the value the file size and this
// build give; anything more means the header cannot be trusted.
void KeyTable::headerRepair(KeyTableRepair repair) {
   Header& h = header();
   U64 const fileCapacity = (map_.size() - sizeof(Header)) / sizeof(Record);
   auto refuse = [&](std::string const& why) {
      throw KeyTableRefused("key table " + path_ + ": " + why, true);
   };
   if (h.magic != kMagic) {
      Header restored = h;
      restored.magic = kMagic;
      bool const ours = headerCheckOf(restored) == h.check && h.version == kVersion &&
                        h.capacity == fileCapacity && h.headerBytes == sizeof(Header) &&
                        h.recordBytes == sizeof(Record);
      if (!ours) refuse("not a key table (bad magic)");
      if (repair != KeyTableRepair::header) {
         refuse("has a damaged magic number, while the rest of its header identifies a key table");
      }
      damage("magic number damaged; restored");
      needsRepair_ = true;
      map_.store(h.magic, kMagic);
   }
   if (h.headerBytes != sizeof(Header) || h.recordBytes != sizeof(Record)) {
      refuse("header or record size does not match this build");
   }
   if (h.check == headerCheckOf(h)) {
      if (h.version != kVersion) {
         refuse("version " + std::to_string(h.version) + " is not the supported version " +
                std::to_string(kVersion));
      }
      if (h.capacity != fileCapacity) {
         refuse("file of " + std::to_string(map_.size()) + " bytes does not hold its capacity " +
                std::to_string(h.capacity));
      }
   } else {
      Header fixed = h;
      fixed.version = kVersion;
      fixed.capacity = fileCapacity;
      if (headerCheckOf(fixed) == h.check) {
         damage("header version or capacity damaged; restored from the file size");
         map_.store(h.version, kVersion);
         map_.store(h.capacity, fileCapacity);
      } else if (h.version == kVersion && h.capacity == fileCapacity) {
         damage("header check damaged; recomputed");
         map_.store(h.check, headerCheckOf(h));
      } else if (h.version != kVersion) {
         refuse("version " + std::to_string(h.version) + " is not the supported version " +
                std::to_string(kVersion));
      } else {
         refuse("header fails its check in more than one field");
      }
   }
   if (h.ownerCheck != ownerCheckOf(h.owner)) {
      // A bind cut short by a kill, or damage: either way the identity is not known.
      note("owner " + std::to_string(h.owner) + " fails its check; table left unbound");
      map_.store(h.owner, U64(0));
      map_.store(h.ownerCheck, U32(0));
   }
}

// Every slot once: damaged records cleared, handle changes cut short rolled back, and the
// header's derived fields set from what is left.
void KeyTable::recordsScan() {
   Header& h = header();
   U64 const cap = h.capacity;
   U64 records = 0, cleared = 0, rolledBack = 0;
   EntryKey largest = 0;
   U32 newestGeneration = 0;
   std::string clearedKeys;
   for (U64 slot = 0; slot < cap; ++slot) {
      Record& r = slotRecord(slot);
      if (isZero(r)) continue;
      bool rolled = false;
      if (!isValid(r, slot)) {
         Record old = r;
         old.sdkEntryHandle = r.undoHandle;
         if (isValid(old, slot)) {
            map_.store(wordAt(r, 1), wordOf(old, 1));
            rolled = true;
         } else {
            if (++cleared <= 8)
               clearedKeys += (cleared == 1 ? " " : ", ") + std::to_string(slot + 1);
            clearSlot(slot);
            continue;
         }
      }
      if (r.undoHandle != 0) {
         rolled = true;
         map_.store(r.undoHandle, U32(0));
      }
      if (rolled) ++rolledBack;
      ++records;
      largest = slot + 1;
      newestGeneration = std::max(newestGeneration, r.generation);
   }
   if (cleared != 0) {
      damage("cleared " + std::to_string(cleared) + " damaged record(s): key(s)" + clearedKeys +
             (cleared > 8 ? ", ..." : ""));
   }
   if (rolledBack != 0) {
      note("finished " + std::to_string(rolledBack) + " interrupted handle change(s)");
   }
   if (h.count != records) {
      note("record count " + std::to_string(h.count) + " in the header corrected to " +
           std::to_string(records));
      countIs(records);
   }
   if (h.highestKey != largest) {
      note("highest key " + std::to_string(h.highestKey) + " in the header corrected to " +
           std::to_string(largest));
      highestIs(largest);
   }
   if (h.generation < newestGeneration) {
      note("generation " + std::to_string(h.generation) + " in the header raised to " +
           std::to_string(newestGeneration));
      map_.store(h.generation, newestGeneration);
   }
}

// Allowed read-only too: the private copy is repaired, the file is not.
std::vector<U64> KeyTable::repair() {
   std::vector<U64> dropped;
   U64 records = 0;
   EntryKey largest = 0;
   for (U64 slot = nextTakenSlot(0); slot < capacity(); slot = nextTakenSlot(slot + 1)) {
      if (slotState(slot) == SlotState::used) {
         ++records;
         largest = slot + 1;
      } else {
         clearSlot(slot);
         dropped.push_back(slot);
      }
   }
   if (header().count != records) countIs(records);
   if (header().highestKey != largest) highestIs(largest);
   return dropped;
}

}  // namespace TwiceNatAgent
