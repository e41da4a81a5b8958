#pragma once
// What an AgentCore holds, and the operations its public ones and its transactions share. Not
// installed: the core's own.
#include <optional>
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

class CoreState {
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
   Status writable() const;
   Programmed program(UpdateKind kind, EntrySpec const& entry);
   Programmed remove(MatchKey key);
   Programmed defaultIs(ActionValues const& action);
   Programmed defaultReset();
   Programmed apply(Update const& update);
   // True when the table holds the default entry under its default match; takes it in again
   // from its record when the back end had let it go.
   bool defaultHeld();

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
   bool vrf = false;   // the table has the VRF key field
   bool bfrt = false;  // the table's back end is the BfRt one
   StartReport report;
};

struct AgentCore::State final : CoreState {
   using CoreState::CoreState;
};

}  // namespace TwiceNatAgent
