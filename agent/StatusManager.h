#pragma once
// The agent's per-entry status manager. A status belongs to the entry's key: the key manager
// tells which key a match spec holds, and the statuses lie in one array by key, so that an
// entry costs eight bytes here and a run of adds writes the array in order.
#include <optional>
#include <vector>

#include "BfTwiceNatAddrOnly/platform/StatusManager.h"
#include "agent/KeyManager.h"

namespace TwiceNatAgent {

enum class EntryState : U8 {
   initial,   // started afresh by initStatus since the last resync
   resynced,  // confirmed by a resync that came after its last initStatus
};

struct EntryStatus {
   EntryState state;
   // initStatus calls for this match since its status was made.
   U32 inits;
};

class StatusManager : public BfnTableStatusManager::StatusManager {
 public:
   using Ptr = Pemra::Ptr<StatusManager>;
   using PtrConst = Pemra::Ptr<StatusManager const>;
   using MatchPtr = BfnTable::MatchSpecBase::PtrConst;
   using EntryKey = KeyManager::EntryKey;

   // Statuses of the entries whose keys `keys` hands out.
   static Ptr statusManagerIs(KeyManager::PtrConst keys) { return Ptr(new StatusManager(keys)); }

   // Makes the status of `match`, or puts it back to initial; a null match is refused
   // (InternalException), and a match that holds no key gets no status.
   void initStatus(MatchPtr const& match) override;
   // Every status made so far counts as resynced from now on, until its next initStatus.
   void resyncStatus() override { ++resyncs_; }

   std::optional<EntryStatus> status(BfnTable::MatchSpecBase const* match) const;
   // Forgets the status of `match` after its removal, before its key is released; false when it
   // had none.
   bool statusDel(BfnTable::MatchSpecBase const* match);
   // The same by the key the match holds, for an owner that has it at hand: no look-up of the
   // match's key.
   std::optional<EntryStatus> keyStatus(EntryKey key) const;
   bool keyStatusDel(EntryKey key);
   U64 resyncCount() const { return resyncs_; }
   U64 size() const { return size_; }

   // Starts fetching the status of `key`, for a caller that knows the keys it changes next.
   void prefetch(EntryKey key) const {
      if (key != 0 && key <= records_.size()) __builtin_prefetch(&records_[key - 1]);
   }

   ZIN_ALLOCATED(StatusManager)

 protected:
   ~StatusManager() override = default;

 private:
   explicit StatusManager(KeyManager::PtrConst keys);
   struct Record {
      U32 inits = 0;  // 0: no status
      // resyncs_ at its last initStatus: a later resync has passed over it when resyncs_ moved.
      U32 resyncsAtInit = 0;
   };
   Record const* recordOf(BfnTable::MatchSpecBase const* match) const;
   Record const* recordAt(EntryKey key) const;
   std::optional<EntryStatus> statusOf(Record const* r) const;
   bool drop(Record const* r);

   KeyManager::PtrConst keys_;
   std::vector<Record> records_;  // by key - 1
   U64 size_ = 0;
   U32 resyncs_ = 0;
};

}  // namespace TwiceNatAgent
