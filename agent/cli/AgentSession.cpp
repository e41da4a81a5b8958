#include "agent/cli/AgentSession.h"

#include <algorithm>
#include <array>

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkLibrary.h"
#include "chip/Devices.h"

namespace TwiceNatCli {

using BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec;

namespace {
constexpr U32 kSessionId = 1;
// Walks after the first; damage appearing during a start's own walks means a failing disk.
constexpr U64 kRewalks = 2;
}  // namespace

AgentSession::Attachment::Attachment(U8 d, chip::Chip& chip) : device(d) {
   chip::attach(device, chip);
}

AgentSession::Attachment::~Attachment() {
   chip::detach(device);
}

AgentSession::AgentSession(chip::Chip& chip, std::string const& keyTablePath, SdkLibrary const& sdk,
                           bool readOnly)
    : chip_(chip), attachment_(kDevice, chip), readOnly_(readOnly) {
   using TwiceNatAgent::KeyTable;
   std::unique_ptr<KeyTable> table =
       KeyTable::open(keyTablePath, readOnly ? TwiceNatAgent::KeyTableAccess::readOnly
                                             : TwiceNatAgent::KeyTableAccess::readWrite);
   bindToChip(*table);
   notes_ = chip.openNotes();
   notes_.insert(notes_.end(), table->openNotes().begin(), table->openNotes().end());
   keys_ = TwiceNatAgent::KeyManager::keyManagerIs(std::move(table));
   statuses_ = TwiceNatAgent::StatusManager::statusManagerIs(keys_);
   adoptOrphans();
   createTable(sdk);
   // Open cleared the damage it found; damage that appears after it stops the resync's walk,
   // and the map repairs the table. The walk is then run again from the first record, so
   // every intact record is resynced in this start, and the entries of the records the repair
   // dropped are adopted again.
   while (keys_->tableMap().repairs() > reconciled_.rewalked && reconciled_.rewalked < kRewalks) {
      ++reconciled_.rewalked;
      table_ = nullptr;
      adoptOrphans();
      createTable(sdk);
   }
   settleRecords();
   notes_.push_back(reconciledText());
}

AgentSession::~AgentSession() {
   index_.clear();
   table_ = nullptr;
   statuses_ = nullptr;
   keys_ = nullptr;
}

// A key table names handles of one chip: bound to it at its first start, refused beside another.
void AgentSession::bindToChip(TwiceNatAgent::KeyTable& table) const {
   U64 const identity = chip_.identity();
   if (table.owner() == identity || identity == 0) return;
   if (table.owner() != 0) {
      throw TwiceNatAgent::KeyTableRefused("key table " + table.path() +
                                           " belongs to another chip than " + chip_.path());
   }
   if (!readOnly_) table.ownerIs(identity);
}

void AgentSession::createTable(SdkLibrary const& sdk) {
   table_ = twiceNatAddrOnlyTableFactory(keys_, statuses_, sdk.handle(), kSessionId, kDevice,
                                         kAllPipes, sdk.path());
}

bool AgentSession::vrfKeyField() const {
   return table_->supportedOptionalFields() & TwiceNatAddrOnlyMatchSpec::kVrfIdBit;
}

// The runtime's type of the table says which back end the creation chose.
char const* AgentSession::backEnd() const {
   return table_->fwkType()->isA(&BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt::type()) ? "BfRt"
                                                                                         : "PD";
}

// Before the resync: every chip entry gets a key record, so the resync finds it. A record can
// be missing only for the entry whose add a kill cut short after the chip took it; it is
// given the lowest free key, like any add. Two records naming one handle (which no sequence
// of stores makes, but damage can) keep the first. Entries are marked by chip slot, one bit
// each, in key order.
void AgentSession::adoptOrphans() {
   TwiceNatAgent::KeyTable& kt = keys_->table();
   std::vector<bool> recorded(chip_.capacity());
   std::vector<U32> defaults;  // default handles recorded, at most one per pipe
   defaultKey_ = 0;
   auto drop = [&](U64 key) {
      if (!kt.inUse(key)) return;  // damaged: left to the walk's repair
      ++reconciled_.dropped;
      if (!readOnly_) keys_->free(key);
   };
   for (U64 slot = kt.nextTakenSlot(0); slot < kt.capacity(); slot = kt.nextTakenSlot(slot + 1)) {
      U64 const key = slot + 1;
      // Unchecked: damage since open is met by the resync's walk, whose repair reruns this.
      TwiceNatAgent::KeyTable::EntryConfig const rec = kt.recordAsStored(key);
      U32 const entry = chip_.entrySlot(rec.sdkEntryHandle);
      if (entry != chip::kNoSlot) {
         if (recorded[entry]) {
            drop(key);
            continue;
         }
         recorded[entry] = true;
      } else if (chip::Chip::isDefaultHandle(rec.sdkEntryHandle)) {
         if (std::find(defaults.begin(), defaults.end(), rec.sdkEntryHandle) != defaults.end()) {
            drop(key);
            continue;
         }
         defaults.push_back(rec.sdkEntryHandle);
      }
      if (rec.flags & TwiceNatAgent::KeyRecordFlag::defaultEntry) defaultKey_ = key;
   }
   auto adopt = [&](U32 handle, U16 flags) {
      ++reconciled_.adopted;
      if (readOnly_) return;
      U64 const key = keys_->alloc(nullptr, false);
      keys_->recordHandleIs(key, handle, flags);
      if (flags & TwiceNatAgent::KeyRecordFlag::defaultEntry) defaultKey_ = key;
   };
   chip_.forEachEntrySlot([&](U32 s, chip::EntryView const& e) {
      if (!recorded[s]) adopt(e.handle, 0);
   });
   if (defaultKey_ != 0) return;
   // A default is on the chip when its action is not the one a reset leaves.
   bool const allPipes = chip_.scope() == chip::Scope::allPipes;
   for (U32 p = 0; p < (allPipes ? 1 : chip_.pipes()); ++p) {
      U16 const pipe = allPipes ? chip::kAllPipes : U16(p);
      chip::ActionRec const& act = chip_.defaultAction(pipe);
      bool reset = act.action == chip::ActionRec{}.action;
      for (U32 v : act.params)
         reset = reset && v == 0;
      if (reset) continue;
      U32 const handle = chip::Chip::defaultHandle(pipe);
      if (std::find(defaults.begin(), defaults.end(), handle) == defaults.end())
         adopt(handle, TwiceNatAgent::KeyRecordFlag::defaultEntry);
      return;
   }
}

// After the resync: the index of every entry; the default's record and, on a table without
// the VRF key field, records read back through PD (which say their VRF was given, and which
// this table would refuse to modify) are moved onto the match objects this agent uses for
// them; records the resync found no entry for are dropped.
void AgentSession::settleRecords() {
   TwiceNatAgent::KeyTable& kt = keys_->table();
   U64 const unsupported = ~table_->supportedOptionalFields();
   index_.reserve(kt.count());
   std::vector<U64> stale;
   bool resetDefault = false;
   // Inserts trail the walk by a few records, each slot fetched when its record is met.
   constexpr std::size_t kAhead = 16;
   std::array<std::pair<MatchKey, U32>, kAhead> ahead;
   std::size_t walked = 0;
   auto insert = [&](MatchKey const& k, U64 key) {
      index_.prefetch(k);
      auto& at = ahead[walked++ % kAhead];
      if (walked > kAhead) index_.insert(at.first, at.second);
      at = {k, U32(key)};
   };
   for (U64 slot = kt.nextTakenSlot(0); slot < kt.capacity(); slot = kt.nextTakenSlot(slot + 1)) {
      U64 const key = slot + 1;
      MatchPtr match =
          Pemra::dynamic_ptr_cast<TwiceNatAddrOnlyMatchSpec const>(keys_->matchOf(key));
      if (!match) {
         stale.push_back(key);
         continue;
      }
      if (key == defaultKey_) {
         table_->resyncedMatchIs(key, match, table_->defaultMatchSpecIs());
         if (defaultIsReset()) resetDefault = true;
         continue;
      }
      if (match->isSet() & unsupported) {
         MatchKey plain = matchKeyOf(*match);
         plain.vrfGiven = false;
         plain.vrf = 0;
         MatchPtr replacement = matchSpecOf(plain);
         table_->resyncedMatchIs(key, match, replacement);
         match = replacement;
      }
      insert(matchKeyOf(*match), key);
   }
   for (std::size_t i = walked > kAhead ? walked - kAhead : 0; i < walked; ++i) {
      auto& at = ahead[i % kAhead];
      index_.insert(at.first, at.second);
   }
   reconciled_.dropped += stale.size() + (resetDefault ? 1 : 0);
   if (readOnly_) return;
   for (U64 key : stale)
      keys_->free(key);
   if (resetDefault) defaultReset();
}

// A default record over a chip default that holds what a reset leaves: the reset was killed
// before its record went. (A default set to exactly that action behaves the same on the chip,
// and is settled the same way.)
bool AgentSession::defaultIsReset() const {
   TableEntry const entry = table_->entry(table_->defaultMatchSpec());
   if (entry.empty()) return false;
   std::optional<ActionValues> const action = actionValuesOf(*entry.action());
   if (!action) return false;
   ActionValues const reset;
   return action->kind == reset.kind && action->keyId == 0 && action->rwId == 0 &&
          action->prot == 0 && action->frag == 0 && action->target == 0;
}

std::string AgentSession::reconciledText() const {
   auto count = [](U64 n, char const* one, char const* many) {
      return std::to_string(n) + " " + (n == 1 ? one : many);
   };
   Reconciled const& r = reconciled_;
   return std::string(readOnly_ ? "read-only start, not reconciled: " : "start reconciled: ") +
          count(r.adopted, "chip entry", "chip entries") + " without a key record " +
          (readOnly_ ? "found" : "adopted") + ", " + count(r.dropped, "key record", "key records") +
          " without a chip entry " + (readOnly_ ? "found" : "dropped") + ", " +
          count(r.rewalked, "resync", "resyncs") + " run again after key-table damage";
}

MatchKey AgentSession::fitted(MatchKey key, bool strictVrf) const {
   if (vrfKeyField()) {
      key.vrfGiven = true;
      return key;
   }
   if (key.vrfGiven && (strictVrf || key.vrf != 0)) {
      throw InputError("this chip's table has no VRF key field: a VRF (" + std::to_string(key.vrf) +
                       ") cannot be given");
   }
   key.vrfGiven = false;
   key.vrf = 0;
   return key;
}

MatchPtr AgentSession::find(MatchKey const& key) const {
   U32 const entryKey = index_.find(key);
   return entryKey ? matchOf(entryKey) : nullptr;
}

// Every key the index names was given to one of this table's match specs, by a program or by
// the resync.
MatchPtr AgentSession::matchOf(U32 entryKey) const {
   TwiceNatAgent::KeyManager::MatchPtr const base = keys_->matchOf(entryKey);
   return MatchPtr(static_cast<TwiceNatAddrOnlyMatchSpec const*>(base.ptr()));
}

U32 AgentSession::handleOf(MatchPtr const& match) const {
   return table_->helper()->sdkHandles()->entry(match);
}

// The record is written once the chip holds the entry; a modify that keeps the handle writes
// nothing.
void AgentSession::recordHandle(MatchPtr const& match, U16 flags) {
   U64 key = keys_->keyOf(match.ptr());
   if (key != 0) keys_->recordHandleIs(key, handleOf(match), flags);
}

AgentSession::Change AgentSession::program(EntrySpec const& spec) {
   MatchPtr existing = find(spec.match);
   MatchPtr match = existing ? existing : matchSpecOf(spec.match);
   // A new object: the key manager looks it up next. (The handle map keeps its handle in the
   // object itself.)
   if (!existing) keys_->prefetch(match.ptr());
   TableEntry entry(match);
   entry.actionIs(actionSpecOf(spec.action));
   table_->entryIs(entry);
   recordHandle(entry.match(), 0);
   if (existing) return Change::changed;
   index_.insert(spec.match, U32(keys_->keyOf(entry.match().ptr())));
   return Change::added;
}

void AgentSession::remove(MatchKey const& key) {
   MatchPtr match = find(key);
   if (!match) throw InputError("no entry " + keyText(key) + " in the table");
   table_->entryDel(match);
   statuses_->statusDel(match.ptr());
   keys_->release(match.ptr());
   index_.erase(key);
}

void AgentSession::defaultIs(ActionValues const& action) {
   TableEntry entry(table_->defaultMatchSpecIs());
   entry.actionIs(actionSpecOf(action));
   table_->entryIs(entry);
   recordHandle(entry.match(), TwiceNatAgent::KeyRecordFlag::defaultEntry);
}

bool AgentSession::defaultReset() {
   MatchPtr match = table_->defaultMatchSpecIs();
   if (!table_->helper()->sdkHandles()->entryHas(match)) return false;
   table_->entryDel(match);
   statuses_->statusDel(match.ptr());
   keys_->release(match.ptr());
   return true;
}

std::string AgentSession::statusOf(MatchPtr const& match) const {
   auto status = statuses_->status(match.ptr());
   // Without a status of its own the entry was found by the resync at this start.
   if (!status || status->state == TwiceNatAgent::EntryState::resynced) return "resynced";
   return "programmed";
}

std::vector<AgentSession::Row> AgentSession::rowsOf(std::vector<MatchPtr> const& matches) const {
   std::vector<Row> rows;
   rows.reserve(matches.size());
   for (MatchPtr const& m : matches)
      rows.push_back(Row{handleOf(m), m, TableEntry(), ""});
   std::sort(rows.begin(), rows.end(),
             [](Row const& a, Row const& b) { return a.handle < b.handle; });
   for (Row& r : rows) {
      r.entry = table_->entry(r.match);
      r.status = r.entry.empty() ? "missing on chip" : statusOf(r.match);
   }
   return rows;
}

std::optional<AgentSession::Row> AgentSession::defaultEntry() const {
   MatchPtr const& match = table_->defaultMatchSpec();
   if (!match || !table_->helper()->sdkHandles()->entryHas(match)) return std::nullopt;
   return rowsOf({match}).front();
}

}  // namespace TwiceNatCli
