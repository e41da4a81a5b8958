#pragma once
// The agent's per-entry status manager: one status per match-spec object, by identity.
#include <optional>

#include "BfTwiceNatAddrOnly/platform/StatusManager.h"
#include "Zin/IdentityMap.h"

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

   static Ptr statusManagerIs() { return Ptr(new StatusManager); }

   // Makes the status of `match`, or puts it back to initial; a null match is refused.
   void initStatus(MatchPtr const& match) override;
   // Every status made so far counts as resynced from now on, until its next initStatus.
   void resyncStatus() override { ++resyncs_; }

   std::optional<EntryStatus> status(BfnTable::MatchSpecBase const* match) const;
   // Forgets the status of `match` after its removal; false when it had none.
   bool statusDel(BfnTable::MatchSpecBase const* match) { return records_.erase(match); }
   U64 resyncCount() const { return resyncs_; }
   U64 size() const { return records_.size(); }

   ZIN_ALLOCATED(StatusManager)

 protected:
   ~StatusManager() override = default;

 private:
   StatusManager() = default;

   struct Record {
      U32 inits = 0;
      // resyncs_ at its last initStatus: a later resync has passed over it when resyncs_ moved.
      U64 resyncsAtInit = 0;
   };
   Zin::IdentityMap<BfnTable::MatchSpecBase, Record> records_;
   U64 resyncs_ = 0;
};

}  // namespace TwiceNatAgent
