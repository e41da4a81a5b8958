#pragma once
// What an AgentCore holds, and the operations its public ones and its transactions share. Not
// installed: the core's own.
#include <array>
#include <optional>
#include <span>
#include <vector>

#include "BfTwiceNatAddrOnly/table/TwiceNatAddrOnlyTableFactory.h"
#include "agent/KeyManager.h"
#include "agent/StatusManager.h"
#include "agent/core/AgentCore.h"
#include "agent/core/EntryIndex.h"
#include "agent/core/EntrySpecs.h"

namespace TwiceNatAgent {

using Table = BfTwiceNatAddrOnly::TwiceNatAddrOnlyTable;
using TableEntry = BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry;

Status refusal(Code code, std::string message);

inline bool isDefaultUpdate(UpdateKind kind) {
   return kind == UpdateKind::defaultSet || kind == UpdateKind::defaultReset;
}

// The key manager finds the matches' keys through the core's index (see keyNamed).
class CoreState : public KeyManager::MatchIndex {
 public:
   using Config = AgentCore::Config;
   using StartReport = AgentCore::StartReport;

   explicit CoreState(Config const& c) : config(c), inventory(*c.inventory) {}
   ~CoreState();
   CoreState(CoreState const&) = delete;
   CoreState& operator=(CoreState const&) = delete;

   // The start (CoreStart.cpp).
   void open();
   void createTable();
   void reconcile();

   // Single updates (CoreUpdates.cpp). Each is crash-safe on its own and leaves the core as it
   // was when it fails.
   Status fit(MatchKey& key, bool strictVrf) const;
   // UNAVAILABLE on a read-only start, and while an all-or-nothing batch other than the one
   // acting holds the table: its undo would overwrite what another writer did.
   Status writable() const;
   // `fresh`: a match spec with the entry's contents made ahead (see Lookahead), used when the
   // entry is added.
   Programmed program(UpdateKind kind, EntrySpec const& entry, MatchSpecPtr fresh = nullptr);
   Programmed remove(MatchKey key);
   Programmed defaultIs(ActionValues const& action);
   Programmed defaultReset();
   Programmed apply(Update const& update, MatchSpecPtr fresh = nullptr);
   // True when the table holds the default entry under its default match; takes it in again
   // from its record when the back end had let it go.
   bool defaultHeld();
   // True when the table holds the entry of `entryKey`; takes it in again from its record when
   // the back end had let it go (see `unclaimed`).
   bool claimed(U64 entryKey);

   // The key indexed under `match`'s contents, or the default's key for the default match.
   KeyManager::EntryKey keyNamed(BfnTable::MatchSpecBase const& match) const override;

   // Reads (CoreRead.cpp).
   MatchSpecPtr matchOf(U64 key) const {
      return MatchSpecPtr(
          static_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const*>(keys->matchAt(key)));
   }
   // The entry of `key` as the chip holds it; nothing when the key names no entry.
   std::optional<EntryRow> row(U64 key) const;
   // The action an update is about to replace or remove, read back from the chip.
   std::optional<ActionValues> actionOf(U64 key) const;

   Config config;
   BfnTable::SdkEntryInventory const& inventory;
   KeyManager::Ptr keys;
   StatusManager::Ptr statuses;
   Table::Ptr table;
   EntryIndex index;
   MatchSpecPtr defaultMatch;  // the table's default match spec
   U64 defaultKey = 0;         // the record of the default entry; 0 when no default is set
   U32 defaultHandle = 0;
   bool vrf = false;              // the table has the VRF key field
   bool bfrt = false;             // the table's back end is the BfRt one
   void const* holder = nullptr;  // the all-or-nothing batch open now, if any
   void const* acting = nullptr;  // the batch whose updates run now, if any
   // Entries the chip and their key records still hold, which the back end let go of when
   // the SDK refused to delete them and which could not be read back since.
   std::vector<U64> unclaimed;
   StartReport report;
};

// Runs a few updates of a batch ahead of the one being applied: fetches the index slot of each
// update's key, and makes the match spec of an entry the update adds (or fetches the match
// spec, the key record and the status of the one it changes), so that the cache misses of
// several updates overlap.
class Lookahead {
 public:
   static constexpr std::size_t kSlots = 8;    // index slots fetched this far ahead
   static constexpr std::size_t kMatches = 4;  // match specs made or fetched this far ahead

   explicit Lookahead(CoreState& s) : s_(s) {}
   // Before update `i` of `part` is applied; returns the match spec made ahead for it.
   MatchSpecPtr at(std::span<Update const> part, std::size_t i);

 private:
   void stage(Update const& u, MatchSpecPtr& made);

   CoreState& s_;
   std::array<MatchSpecPtr, kMatches> made_;
};

struct AgentCore::State final : CoreState {
   using CoreState::CoreState;
};

}  // namespace TwiceNatAgent
