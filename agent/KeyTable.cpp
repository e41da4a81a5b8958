// A key table's record operations: reads, writes and removals of records, each written with
// ordered stores (Stow/Mapping.h) so that a kill between any two leaves a slot that open
// accepts, rolls back or clears; and the walks over the slots.
#include "agent/KeyTable.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "KeyTableLayout.h"

namespace TwiceNatAgent {

using namespace keytable;

void KeyTable::checkWritable(char const* what) const {
   if (readOnly_) throw KeyTableError("key table " + path_ + ": " + what + ": opened read-only");
}

// A kill between the two stores leaves an owner that fails its check, which open unbinds.
void KeyTable::ownerIs(U64 owner) {
   checkWritable("bind owner");
   Header& h = header();
   if (h.owner == owner && h.ownerCheck == ownerCheckOf(owner)) return;
   map_.store(h.owner, owner);
   map_.store(h.ownerCheck, ownerCheckOf(owner));
}

void KeyTable::countIs(U64 count) {
   map_.store(header().count, count);
}

void KeyTable::highestIs(EntryKey key) {
   map_.store(header().highestKey, key);
}

KeyTable::SlotState KeyTable::slotState(U64 slot) const {
   Record const& r = slotRecord(slot);
   if (isZero(r)) return SlotState::free;
   return isValid(r, slot) ? SlotState::used : SlotState::damaged;
}

void KeyTable::checkKey(EntryKey key, char const* what) const {
   if (key == 0 || key > capacity()) {
      throw KeyTableError("key table " + path_ + ": " + what + ": key " + std::to_string(key) +
                          " is outside 1.." + std::to_string(capacity()));
   }
}

Pemra::String KeyTable::damageText(U64 slot) const {
   return "key table " + path_ + ": record in slot " + std::to_string(slot) + " (key " +
          std::to_string(slot + 1) + ") fails its check";
}

KeyTable::EntryConfig KeyTable::record(EntryKey key) const {
   checkKey(key, "record");
   switch (slotState(key - 1)) {
      case SlotState::free:
         throw KeyTableError("key table " + path_ + ": key " + std::to_string(key) +
                             " has no record");
      case SlotState::damaged:
         throw Pemra::CorruptionDetectedException(damageText(key - 1));
      case SlotState::used:
         break;
   }
   Record const& r = slotRecord(key - 1);
   return EntryConfig(r.key, r.opId, r.sdkEntryHandle, r.flags, r.generation);
}

KeyTable::EntryConfig KeyTable::recordAsStored(EntryKey key) const {
   checkKey(key, "record");
   Record const& r = slotRecord(key - 1);
   return EntryConfig(r.key, r.opId, r.sdkEntryHandle, r.flags, r.generation);
}

void KeyTable::recordIs(EntryConfig const& config) {
   checkWritable("write");
   checkKey(config.key, "write");
   U64 slot = config.key - 1;
   SlotState was = slotState(slot);
   if (was == SlotState::damaged) throw Pemra::CorruptionDetectedException(damageText(slot));
   Record n{};
   n.key = config.key;
   n.opId = config.opId;
   n.sdkEntryHandle = config.sdkEntryHandle;
   n.generation = config.generation;
   n.flags = config.flags;
   n.state = kUsed;
   n.checksum = recordCheckOf(n, slot);
   Record& r = slotRecord(slot);
   if (was == SlotState::free) {
      // Checksum last: until it lands the slot fails its check and open clears it.
      map_.storeBytes(&r, &n, kSealed);
      map_.store(wordAt(r, 3), wordOf(n, 3));
      countIs(header().count + 1);
      if (config.key > header().highestKey) highestIs(config.key);
      return;
   }
   if (std::memcmp(&r, &n, sizeof n) == 0) return;
   if (wordOf(r, 0) == wordOf(n, 0) && wordOf(r, 2) == wordOf(n, 2) && r.opId == n.opId) {
      // Park the old handle, swap the handle, then seal with the new checksum: a record
      // caught in between still checks with its undo handle and open rolls it back.
      Record parked = r;
      parked.undoHandle = r.sdkEntryHandle;
      map_.store(wordAt(r, 3), wordOf(parked, 3));
      map_.store(wordAt(r, 1), wordOf(n, 1));
      map_.store(wordAt(r, 3), wordOf(n, 3));
      return;
   }
   // Other fields change: the checksum goes first so that the slot reads as damaged, never
   // as a mix of the two records.
   map_.store(wordAt(r, 3), U64(0));
   map_.storeBytes(&r, &n, kSealed);
   map_.store(wordAt(r, 3), wordOf(n, 3));
}

// Checksum first, so a clear cut short reads as damaged and open finishes it.
void KeyTable::clearSlot(U64 slot) {
   Record& r = slotRecord(slot);
   Record const zero{};
   map_.store(wordAt(r, 3), U64(0));
   map_.storeBytes(&r, &zero, kSealed);
   if (slot / 64 < mayBeFree_.size()) {
      mayBeFree_[slot / 64] |= U64(1) << (slot % 64);
      mayBeFreeWords_[slot / 4096] |= U64(1) << (slot / 64 % 64);
   }
}

void KeyTable::mayBeFreeCovers(U64 cap) const {
   U64 const words = (cap + 63) / 64;
   U64 const had = mayBeFree_.size();
   if (had >= words) return;
   mayBeFree_.resize(words, ~U64(0));
   mayBeFreeWords_.resize((words + 63) / 64, 0);
   for (U64 w = had; w < words; ++w)
      mayBeFreeWords_[w / 64] |= U64(1) << (w % 64);
}

void KeyTable::recordDel(EntryKey key) {
   checkWritable("clear");
   checkKey(key, "clear");
   Record& r = slotRecord(key - 1);
   if (isZero(r)) {
      throw KeyTableError("key table " + path_ + ": key " + std::to_string(key) + " has no record");
   }
   clearSlot(key - 1);
   if (header().count > 0) countIs(header().count - 1);
   if (key == header().highestKey) highestIs(takenKeyBelow(key));
}

U64 KeyTable::nextTakenSlot(U64 slot) const {
   U64 const cap = capacity();
   while (slot < cap && isZero(slotRecord(slot)))
      ++slot;
   return slot < cap ? slot : cap;
}

U64 KeyTable::nextFreeSlot(U64 slot) const {
   U64 const cap = capacity();
   mayBeFreeCovers(cap);
   while (slot < cap) {
      U64 w = slot / 64;
      U64 bits = mayBeFree_[w] & (~U64(0) << (slot % 64));
      if (!bits) {
         // The next word with a bit set, through the words' bits.
         U64 const next = w + 1;
         U64 sw = next / 64;
         if (sw >= mayBeFreeWords_.size()) return cap;
         U64 sbits = mayBeFreeWords_[sw] & (~U64(0) << (next % 64));
         while (!sbits) {
            if (++sw >= mayBeFreeWords_.size()) return cap;
            sbits = mayBeFreeWords_[sw];
         }
         w = sw * 64 + U64(__builtin_ctzll(sbits));
         bits = mayBeFree_[w];
         if (!bits) {
            mayBeFreeWords_[sw] &= ~(U64(1) << (w % 64));
            slot = (w + 1) * 64;
            continue;
         }
      }
      slot = w * 64 + U64(__builtin_ctzll(bits));
      if (slot >= cap) return cap;
      if (isZero(slotRecord(slot))) return slot;
      mayBeFree_[w] &= ~(U64(1) << (slot % 64));
      if (!mayBeFree_[w]) mayBeFreeWords_[w / 64] &= ~(U64(1) << (w % 64));
      ++slot;
   }
   return cap;
}

KeyTable::EntryKey KeyTable::takenKeyBelow(EntryKey key) const {
   if (key == 0) return 0;
   for (EntryKey k = std::min<EntryKey>(key - 1, capacity()); k > 0; --k) {
      if (!isZero(slotRecord(k - 1))) return k;
   }
   return 0;
}

U32 KeyTable::generationIs() {
   checkWritable("generation");
   U32 g = header().generation + 1;
   if (g == 0) g = 1;
   map_.store(header().generation, g);
   return g;
}

}  // namespace TwiceNatAgent
