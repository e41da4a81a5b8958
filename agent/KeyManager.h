#pragma once
// The agent's key manager over a shared-memory key table. Keys and their records live in the
// table (shared with other processes and surviving restarts); which match-spec object a key
// belongs to is known only to this process.
//
// A key goes through two steps: alloc reserves it in this process only (nothing is stored, so
// a kill before the chip has the entry leaves nothing behind), and recordHandleIs writes its
// record once, with the SDK entry handle, after the chip took the entry.
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
   // Reserves a key that has neither a record nor a reservation and associates it with `match`
   // (which may be null). With `flag` false the key is the lowest free one; with `flag` true
   // it is the lowest free key above the highest-key mark, so that a recently freed key is not
   // reused at once, falling back to the lowest free key when none is left above the mark.
   // Throws KeyTableFull when the table is full, KeyTableError when `match` already holds a key.
   EntryKey alloc(MatchPtr const& match, bool flag) override;
   // Drops the reservation or clears the record of `key` and forgets its match; KeyTableError
   // when it has neither.
   void free(EntryKey key) override;
   // Associates the existing record of `key` with `match`; a null match leaves the record
   // with no match. KeyTableError when `key` has no record or `match` holds another key.
   void populate(EntryKey const& key, MatchPtr const& match) override;
   // The largest key reserved or recorded, as alloc and free keep it; the resync sets it.
   EntryKey highestKey() const override { return mark_; }
   void highestKeyIs(EntryKey key) override;

   // Told of each populate with the record it names and the match it was given (null when the
   // chip did not hold the entry), so that an owner builds what it keeps per entry as the
   // resync's walk goes instead of walking the key table again.
   class PopulateListener {
    public:
      virtual void populated(EntryConfig const& record, MatchPtr const& match) = 0;

    protected:
      ~PopulateListener() = default;
   };
   // nullptr: none.
   void populateListenerIs(PopulateListener* listener) { listener_ = listener; }

   // An index its owner keeps of the keys by their match's contents, which the key manager
   // asks instead of keeping a map of its own from match objects to keys (a slot per key).
   class MatchIndex {
    public:
      // The key indexed under the contents of `match`; 0 when none. It may be the key of
      // another object with the same contents: keyOf checks that it names `match` itself.
      virtual EntryKey keyNamed(BfnTable::MatchSpecBase const& match) const = 0;

    protected:
      ~MatchIndex() = default;
   };
   // From here on keys are found through `index` (nullptr: through a map of this manager's
   // own, built again from the associations). The owner indexes every recorded key whose match
   // it asks for, one key per contents; a reserved key is found without it. With an index and
   // a populate listener, populate leaves a match given a second key to the listener, which
   // meets it as two records with the same contents.
   void matchIndexIs(MatchIndex const* index);

   // The agent's side, which the library never calls.
   // The key associated with `match`; 0 when none.
   EntryKey keyOf(BfnTable::MatchSpecBase const* match) const;
   // Starts fetching what a change of `key` reads: the match object it holds and its record.
   void prefetchKey(EntryKey key) const {
      if (BfnTable::MatchSpecBase const* m = matchAt(key)) __builtin_prefetch(m);
      table_->prefetch(key);
   }
   // The match associated with `key`; null when none.
   MatchPtr matchOf(EntryKey key) const;
   // The match associated with `key`, borrowed (valid while the association lasts); null when
   // none.
   BfnTable::MatchSpecBase const* matchAt(EntryKey key) const {
      return key != 0 && key <= matchOfSlot_.size() ? matchOfSlot_[key - 1].ptr() : nullptr;
   }
   // The first key at or after `key` that is associated with a match, and no further than
   // `limit`; 0 when there is none up to there.
   EntryKey nextMatched(EntryKey key, EntryKey limit) const;
   // Keys above this one hold no match.
   EntryKey keysTracked() const { return matchOfSlot_.size(); }
   // Writes the record of `key` with the SDK entry handle after a successful programming:
   // the first record of a reserved key, or a changed handle or flags (KeyRecordFlag) of a
   // recorded one; nothing when they are unchanged. KeyTableError when `key` has neither.
   void recordHandleIs(EntryKey key, BfnTable::BfnSdkEntryHandle handle, U16 flags = 0);
   EntryConfig record(EntryKey key) const { return table_->record(key); }
   // Frees the key associated with `match` after a successful removal; returns it (0 when the
   // match had none).
   EntryKey release(BfnTable::MatchSpecBase const* match);
   bool reserved(EntryKey key) const;
   // Records in the table.
   U64 size() const { return table_->count(); }
   // Keys reserved and not yet recorded.
   U64 reservations() const { return reserved_.size(); }
   U64 capacity() const { return table_->capacity(); }
   // Associations with match specs held in this process.
   U64 matches() const { return matches_; }
   KeyTable& table() const { return *table_; }
   KeyTableMap& tableMap() const { return *map_; }

   ZIN_ALLOCATED(KeyManager)

 protected:
   ~KeyManager() override = default;

 private:
   explicit KeyManager(std::unique_ptr<KeyTable> table);
   void associate(EntryKey key, MatchPtr const& match);
   void forget(EntryKey key);
   // The key `match` holds (0 when none); KeyTableError when it holds one other than `key`.
   EntryKey keyHeldAs(BfnTable::MatchSpecBase const* match, EntryKey key, char const* what) const;
   // The first slot at or after `slot` with neither a record nor a reservation.
   U64 freeSlotFrom(U64 slot) const;
   void released(EntryKey key);

   std::unique_ptr<KeyTable> table_;
   std::unique_ptr<KeyTableMap> map_;
   // Indexed by slot (key - 1); sized at start to the table's highest key.
   std::vector<MatchPtr> matchOfSlot_;
   // Without an owner's index. Keys fit 32 bits (KeyTable::kMaxCapacity), which keeps a slot
   // of this map at 16 bytes.
   Zin::IdentityMap<BfnTable::MatchSpecBase, U32> keyOfMatch_;
   MatchIndex const* index_ = nullptr;
   U64 matches_ = 0;
   // Keys handed out by alloc whose records are not written yet: one per programming in
   // flight, so a short list.
   std::vector<EntryKey> reserved_;
   PopulateListener* listener_ = nullptr;
   EntryKey mark_ = 0;
   // Every slot below it is taken, so the search for the lowest free key starts here.
   U64 lowestFree_ = 0;
};

}  // namespace TwiceNatAgent
