#pragma once
// The agent's key manager over a shared-memory key table. Keys and their records live in the
// table (shared with other processes and surviving restarts); which match-spec object a key
// belongs to is known only to this process.
#include <memory>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/DroskKeyManager.h"
#include "Zin/IdentityMap.h"
#include "agent/KeyTable.h"
#include "agent/KeyTableMap.h"

namespace TwiceNatAgent {

class KeyManager : public MbbDroskKey::DroskKeyManager {
 public:
   using Ptr = Pemra::Ptr<KeyManager>;
   using PtrConst = Pemra::Ptr<KeyManager const>;
   using MatchPtr = BfnTable::MatchSpecBase::PtrConst;
   using EntryConfig = Drosk::MbbPostcodef::EntryConfig;

   // Takes over `table`; the associations with match specs start empty.
   static Ptr keyManagerIs(std::unique_ptr<KeyTable> table);

   Drosk::MbbDroskTableConfig* mbbDroskTableConfig() const override { return map_.get(); }
   // Writes a record (handle 0) for a key not in use and associates it with `match` (which may
   // be null: the key is then only reserved). With `flag` false the key is the lowest free
   // one; with `flag` true it is the lowest free key above the highest-key mark, so that a
   // recently freed key is not reused at once, falling back to the lowest free key when none is
   // left above the mark. Throws KeyTableError when the table is full or `match` already
   // holds a key.
   EntryKey alloc(MatchPtr const& match, bool flag) override;
   // Clears the record of `key` and forgets its match; KeyTableError when it has no record.
   void free(EntryKey key) override;
   // Associates the existing record of `key` with `match`; a null match leaves the key reserved
   // with no match. KeyTableError when `key` has no record or `match` holds another key.
   void populate(EntryKey const& key, MatchPtr const& match) override;
   // The mark lives in the table header; alloc raises it and freeing the top key lowers it.
   EntryKey highestKey() const override { return table_->highestKey(); }
   void highestKeyIs(EntryKey key) override { table_->highestKeyIs(key); }

   // The agent's side, which the library never calls.
   // The key associated with `match`; 0 when none.
   EntryKey keyOf(BfnTable::MatchSpecBase const* match) const;
   // The match associated with `key`; null when none.
   MatchPtr matchOf(EntryKey key) const;
   // Stores the SDK entry handle in the record of `key` after a successful programming.
   void recordHandleIs(EntryKey key, BfnTable::BfnSdkEntryHandle handle);
   EntryConfig record(EntryKey key) const { return table_->record(key); }
   // Frees the key associated with `match` after a successful removal; returns it (0 when the
   // match had none).
   EntryKey release(BfnTable::MatchSpecBase const* match);
   // Records in the table.
   U64 size() const { return table_->count(); }
   U64 capacity() const { return table_->capacity(); }
   // Associations with match specs held in this process.
   U64 matches() const { return keyOfMatch_.size(); }
   KeyTable& table() const { return *table_; }
   KeyTableMap& tableMap() const { return *map_; }

   ZIN_ALLOCATED(KeyManager)

 protected:
   ~KeyManager() override = default;

 private:
   explicit KeyManager(std::unique_ptr<KeyTable> table);
   void associate(EntryKey key, MatchPtr const& match);
   void forget(EntryKey key);
   void checkFreeFor(BfnTable::MatchSpecBase const* match, EntryKey key, char const* what) const;

   std::unique_ptr<KeyTable> table_;
   std::unique_ptr<KeyTableMap> map_;
   // Indexed by slot (key - 1); grows to the largest associated key.
   std::vector<MatchPtr> matchOfSlot_;
   Zin::IdentityMap<BfnTable::MatchSpecBase, EntryKey> keyOfMatch_;
   // Every slot below it is taken, so the search for the lowest free key starts here.
   U64 lowestFree_ = 0;
};

}  // namespace TwiceNatAgent
