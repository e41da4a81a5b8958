#include "agent/KeyTableMap.h"

#include <cstdio>
#include <string>
#include <utility>

namespace TwiceNatAgent {

KeyTableMap::KeyTableMap(KeyTable& table, DropListener onDrop)
    : table_(table), onDrop_(std::move(onDrop)) {}

// Keys sit at slot + 1, so scanning slots forward yields records in ascending key order.
bool KeyTableMap::recordFrom(U64 slot, EntryConfig& out, Drosk::IterHint& hint) {
   lastKey_ = 0;
   slot = table_.nextTakenSlot(slot);
   if (slot >= table_.capacity()) {
      hint = Drosk::IterHint{};
      return false;
   }
   out = table_.record(slot + 1);  // a damaged slot throws the corruption exception here
   lastKey_ = out.key;
   lastRecord_ = out;
   hint.slot = slot;
   hint.valid = true;
   return true;
}

bool KeyTableMap::entryFirst(EntryConfig& out, Drosk::IterHint& hint) {
   return recordFrom(0, out, hint);
}

bool KeyTableMap::entryNext(EntryKey key, EntryConfig& out, Drosk::IterHint& hint) {
   // The slot after the one of `key` is slot `key`.
   if (key >= table_.capacity()) {
      lastKey_ = 0;
      hint = Drosk::IterHint{};
      return false;
   }
   return recordFrom(key, out, hint);
}

void KeyTableMap::doCorruptionDetected(Pemra::String const& message) {
   lastKey_ = 0;
   std::vector<U64> slots = table_.repair();
   ++repairs_;
   lastCorruption_ = message;
   Pemra::String line = "key table " + table_.path() + ": corruption detected (" + message +
                        "); dropped " + std::to_string(slots.size()) + " damaged record(s)";
   for (std::size_t i = 0; i < slots.size(); ++i) {
      line += (i == 0 ? ": keys " : ", ") + std::to_string(slots[i] + 1);
   }
   std::fprintf(stderr, "%s\n", line.c_str());
   for (U64 slot : slots) {
      droppedKeys_.push_back(slot + 1);
      if (onDrop_) onDrop_(slot + 1);
   }
}

}  // namespace TwiceNatAgent
