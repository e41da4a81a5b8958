#include "agent/KeyManager.h"

#include <algorithm>
#include <string>
#include <utility>

namespace TwiceNatAgent {

KeyManager::Ptr KeyManager::keyManagerIs(std::unique_ptr<KeyTable> table) {
   if (!table) throw KeyTableError("key manager: no key table given");
   return Ptr(new KeyManager(std::move(table)));
}

KeyManager::KeyManager(std::unique_ptr<KeyTable> table) : table_(std::move(table)) {
   map_ = std::make_unique<KeyTableMap>(*table_, [this](EntryKey key) {
      forget(key);
      lowestFree_ = std::min(lowestFree_, key - 1);
   });
}

void KeyManager::checkFreeFor(BfnTable::MatchSpecBase const* match, EntryKey key,
                              char const* what) const {
   if (!match) return;
   EntryKey const* held = keyOfMatch_.find(match);
   if (held && *held != key) {
      throw KeyTableError("key table " + table_->path() + ": " + what +
                          ": match already holds key " + std::to_string(*held));
   }
}

KeyManager::EntryKey KeyManager::alloc(MatchPtr const& match, bool flag) {
   checkFreeFor(match.ptr(), 0, "alloc");
   U64 cap = table_->capacity();
   U64 slot = flag ? table_->nextFreeSlot(table_->highestKey()) : cap;
   if (slot >= cap) {
      slot = table_->nextFreeSlot(lowestFree_);
      lowestFree_ = slot;
   }
   if (slot >= cap) {
      throw KeyTableError("key table " + table_->path() + " is full: all " + std::to_string(cap) +
                          " keys are in use");
   }
   if (slot == lowestFree_) ++lowestFree_;
   EntryKey key = slot + 1;
   table_->recordIs(EntryConfig(key, 0, 0, 0, table_->generationIs()));
   if (key > table_->highestKey()) table_->highestKeyIs(key);
   if (match) associate(key, match);
   return key;
}

void KeyManager::free(EntryKey key) {
   table_->recordDel(key);
   forget(key);
   lowestFree_ = std::min(lowestFree_, key - 1);
   if (key == table_->highestKey()) table_->highestKeyIs(table_->takenKeyBelow(key));
}

void KeyManager::populate(EntryKey const& key, MatchPtr const& match) {
   table_->record(key);  // refuses a key without a record, or with a damaged one
   checkFreeFor(match.ptr(), key, "populate");
   forget(key);
   if (match) associate(key, match);
}

KeyManager::EntryKey KeyManager::keyOf(BfnTable::MatchSpecBase const* match) const {
   EntryKey const* key = keyOfMatch_.find(match);
   return key ? *key : 0;
}

KeyManager::MatchPtr KeyManager::matchOf(EntryKey key) const {
   if (key == 0 || key > matchOfSlot_.size()) return nullptr;
   return matchOfSlot_[key - 1];
}

void KeyManager::recordHandleIs(EntryKey key, BfnTable::BfnSdkEntryHandle handle) {
   EntryConfig config = table_->record(key);
   config.sdkEntryHandle = handle;
   table_->recordIs(config);
}

KeyManager::EntryKey KeyManager::release(BfnTable::MatchSpecBase const* match) {
   EntryKey key = keyOf(match);
   if (key != 0) free(key);
   return key;
}

void KeyManager::associate(EntryKey key, MatchPtr const& match) {
   if (matchOfSlot_.size() < key) matchOfSlot_.resize(key);
   matchOfSlot_[key - 1] = match;
   keyOfMatch_.insertOrAssign(match, key);
}

void KeyManager::forget(EntryKey key) {
   if (key == 0 || key > matchOfSlot_.size()) return;
   MatchPtr& match = matchOfSlot_[key - 1];
   if (!match) return;
   keyOfMatch_.erase(match.ptr());
   match = nullptr;
}

}  // namespace TwiceNatAgent
