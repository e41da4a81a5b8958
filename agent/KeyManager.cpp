#include "agent/KeyManager.h"

#include <algorithm>
#include <string>
#include <utility>

namespace TwiceNatAgent {

KeyManager::Ptr KeyManager::keyManagerIs(std::unique_ptr<KeyTable> table) {
   if (!table) throw KeyTableError("key manager: no key table given");
   return Ptr(new KeyManager(std::move(table)));
}

// Sized once for the records a restart brings back, so the resync never grows the matches' slots.
KeyManager::KeyManager(std::unique_ptr<KeyTable> table)
    : table_(std::move(table)), mark_(table_->highestKey()) {
   map_ = std::make_unique<KeyTableMap>(*table_, [this](EntryKey key) {
      forget(key);
      lowestFree_ = std::min(lowestFree_, key - 1);
   });
   matchOfSlot_.resize(table_->highestKey());
}

void KeyManager::matchIndexIs(MatchIndex const* index) {
   index_ = index;
   keyOfMatch_.release();
   if (index_ || matches_ == 0) return;
   keyOfMatch_.reserve(matches_);
   for (std::size_t slot = 0; slot < matchOfSlot_.size(); ++slot) {
      if (matchOfSlot_[slot]) keyOfMatch_.insertOrAssign(matchOfSlot_[slot], U32(slot + 1));
   }
}

KeyManager::EntryKey KeyManager::keyHeldAs(BfnTable::MatchSpecBase const* match, EntryKey key,
                                           char const* what) const {
   EntryKey const held = keyOf(match);
   if (held && held != key) {
      throw KeyTableError("key table " + table_->path() + ": " + what +
                          ": match already holds key " + std::to_string(held));
   }
   return held;
}

bool KeyManager::reserved(EntryKey key) const {
   return std::find(reserved_.begin(), reserved_.end(), key) != reserved_.end();
}

U64 KeyManager::freeSlotFrom(U64 slot) const {
   U64 const cap = table_->capacity();
   for (slot = table_->nextFreeSlot(slot); slot < cap && reserved(slot + 1);)
      slot = table_->nextFreeSlot(slot + 1);
   return slot;
}

KeyManager::EntryKey KeyManager::alloc(MatchPtr const& match, bool flag) {
   keyHeldAs(match.ptr(), 0, "alloc");
   U64 const cap = table_->capacity();
   U64 slot = flag ? freeSlotFrom(mark_) : cap;
   if (slot >= cap) {
      slot = freeSlotFrom(lowestFree_);
      lowestFree_ = slot;
   }
   if (slot >= cap) {
      throw KeyTableFull("key table " + table_->path() + " is full: all " + std::to_string(cap) +
                         " keys are in use");
   }
   if (slot == lowestFree_) ++lowestFree_;
   EntryKey const key = slot + 1;
   reserved_.push_back(key);
   mark_ = std::max(mark_, key);
   if (match) associate(key, match);
   return key;
}

void KeyManager::released(EntryKey key) {
   forget(key);
   lowestFree_ = std::min(lowestFree_, key - 1);
   if (key != mark_) return;
   EntryKey below = table_->takenKeyBelow(key);
   for (EntryKey r : reserved_)
      if (r < key) below = std::max(below, r);
   mark_ = below;
}

void KeyManager::free(EntryKey key) {
   auto it = std::find(reserved_.begin(), reserved_.end(), key);
   if (it != reserved_.end()) {
      reserved_.erase(it);
   } else {
      table_->recordDel(key);
   }
   released(key);
}

void KeyManager::highestKeyIs(EntryKey key) {
   if (key > table_->capacity()) {
      throw KeyTableError("key table " + table_->path() + ": highest-key mark " +
                          std::to_string(key) + " exceeds capacity " +
                          std::to_string(table_->capacity()));
   }
   mark_ = key;
}

void KeyManager::populate(EntryKey const& key, MatchPtr const& match) {
   // The resync hands over the record the walk has just checked; any other key is checked
   // here, which refuses a key without a record or with a damaged one.
   EntryConfig const checked =
       key == 0 || key != map_->lastKey() ? table_->record(key) : map_->lastRecord();
   // Sized once for the records a restart brings back, so the resync never grows it.
   if (!index_ && keyOfMatch_.empty()) keyOfMatch_.reserve(table_->count());
   // Whether `match` holds `key` already. The listener of a start's walk builds the index as
   // the walk goes: then nothing is looked up here.
   bool const held =
       match && (index_ && listener_ ? matchAt(key) == match.ptr()
                                     : keyHeldAs(match.ptr(), key, "populate") == key);
   if (!held) {
      forget(key);
      if (match) associate(key, match);
   }
   if (listener_) listener_->populated(checked, match);
}

KeyManager::EntryKey KeyManager::nextMatched(EntryKey key, EntryKey limit) const {
   limit = std::min<EntryKey>(limit, matchOfSlot_.size());
   for (key = std::max<EntryKey>(key, 1); key <= limit; ++key) {
      if (matchOfSlot_[key - 1]) return key;
   }
   return 0;
}

KeyManager::EntryKey KeyManager::keyOf(BfnTable::MatchSpecBase const* match) const {
   if (!match) return 0;
   if (!index_) {
      U32 const* key = keyOfMatch_.find(match);
      return key ? *key : 0;
   }
   // A key in flight is not indexed yet; there is one per programming under way.
   for (EntryKey r : reserved_)
      if (matchAt(r) == match) return r;
   EntryKey const key = index_->keyNamed(*match);
   return matchAt(key) == match ? key : 0;
}

KeyManager::MatchPtr KeyManager::matchOf(EntryKey key) const {
   if (key == 0 || key > matchOfSlot_.size()) return nullptr;
   return matchOfSlot_[key - 1];
}

void KeyManager::recordHandleIs(EntryKey key, BfnTable::BfnSdkEntryHandle handle, U16 flags) {
   auto it = std::find(reserved_.begin(), reserved_.end(), key);
   if (it != reserved_.end()) {
      table_->recordIs(EntryConfig(key, 0, handle, flags, table_->generationIs()));
      reserved_.erase(it);
      return;
   }
   EntryConfig config = table_->record(key);
   if (config.sdkEntryHandle == handle && config.flags == flags) return;
   config.sdkEntryHandle = handle;
   config.flags = flags;
   table_->recordIs(config);
}

KeyManager::EntryKey KeyManager::release(BfnTable::MatchSpecBase const* match) {
   EntryKey key = keyOf(match);
   if (key != 0) free(key);
   return key;
}

static_assert(KeyTable::kMaxCapacity <= 0xFFFFFFFFu, "keys are kept in 32 bits");

void KeyManager::associate(EntryKey key, MatchPtr const& match) {
   if (matchOfSlot_.size() < key) matchOfSlot_.resize(std::max<U64>(key, matchOfSlot_.size() * 2));
   MatchPtr& slot = matchOfSlot_[key - 1];
   if (!slot) ++matches_;
   slot = match;
   if (!index_) keyOfMatch_.insertOrAssign(match, static_cast<U32>(key));
}

void KeyManager::forget(EntryKey key) {
   if (key == 0 || key > matchOfSlot_.size()) return;
   MatchPtr& match = matchOfSlot_[key - 1];
   if (!match) return;
   if (!index_) keyOfMatch_.erase(match.ptr());
   match = nullptr;
   --matches_;
}

}  // namespace TwiceNatAgent
