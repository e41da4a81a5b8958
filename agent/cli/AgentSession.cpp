#include "agent/cli/AgentSession.h"

#include <algorithm>

#include "BfTwiceNatAddrOnly/bfrt/TwiceNatAddrOnlyTableBfrt.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkLibrary.h"
#include "chip/Devices.h"

namespace TwiceNatCli {

using BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec;

namespace {
constexpr U32 kSessionId = 1;
}  // namespace

AgentSession::Attachment::Attachment(U8 d, chip::Chip& chip) : device(d) {
   chip::attach(device, chip);
}

AgentSession::Attachment::~Attachment() {
   chip::detach(device);
}

AgentSession::AgentSession(chip::Chip& chip, std::string const& keyTablePath, SdkLibrary const& sdk)
    : chip_(chip), attachment_(kDevice, chip) {
   keys_ = TwiceNatAgent::KeyManager::keyManagerIs(TwiceNatAgent::KeyTable::open(keyTablePath));
   statuses_ = TwiceNatAgent::StatusManager::statusManagerIs();
   table_ = twiceNatAddrOnlyTableFactory(keys_, statuses_, sdk.handle(), kSessionId, kDevice,
                                         kAllPipes, sdk.path());
   adopt();
}

AgentSession::~AgentSession() {
   index_.clear();
   table_ = nullptr;
   statuses_ = nullptr;
   keys_ = nullptr;
}

bool AgentSession::vrfKeyField() const {
   return table_->supportedOptionalFields() & TwiceNatAddrOnlyMatchSpec::kVrfIdBit;
}

char const* AgentSession::backEnd() const {
   return dynamic_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableBfrt const*>(table_.ptr()) ? "BfRt"
                                                                                           : "PD";
}

// The resync leaves two things for the agent to settle. The default entry's record comes back
// under a match read back from the chip, while this table object names the default by its own
// defaultMatchSpec; and on a table without the VRF field a match read back through PD says
// its VRF was given, which the table would refuse to modify. Both records are moved onto the
// match object this agent uses for them, in the handle map and in the key manager alike.
void AgentSession::adopt() {
   TwiceNatAgent::KeyTable& kt = keys_->table();
   U64 const unsupported = ~table_->supportedOptionalFields();
   for (U64 slot = kt.nextTakenSlot(0); slot < kt.capacity(); slot = kt.nextTakenSlot(slot + 1)) {
      if (kt.slotState(slot) != TwiceNatAgent::KeyTable::SlotState::used) continue;
      U64 const key = slot + 1;
      U32 const handle = kt.record(key).sdkEntryHandle;
      MatchPtr match =
          Pemra::dynamic_ptr_cast<TwiceNatAddrOnlyMatchSpec const>(keys_->matchOf(key));
      if (!match) {
         ++stale_;
         continue;
      }
      chip::EntryView view;
      if (chip_.entryGet(handle, &view) == chip::status::kOk && view.isDefault) {
         rebind(key, handle, match, table_->defaultMatchSpecIs());
         continue;
      }
      if (match->isSet() & unsupported) {
         MatchKey plain = matchKeyOf(*match);
         plain.vrfGiven = false;
         plain.vrf = 0;
         MatchPtr replacement = matchSpecOf(plain);
         rebind(key, handle, match, replacement);
         match = replacement;
      }
      index_.insert_or_assign(matchKeyOf(*match), match);
   }
}

void AgentSession::rebind(U64 key, U32 handle, MatchPtr const& from, MatchPtr const& to) {
   auto const& handles = table_->helper()->sdkHandles();
   handles->entryDel(from);
   handles->entryIs(to, handle);
   keys_->populate(key, to);
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
   auto it = index_.find(key);
   return it == index_.end() ? nullptr : it->second;
}

U32 AgentSession::handleOf(MatchPtr const& match) const {
   return table_->helper()->sdkHandles()->entry(match);
}

void AgentSession::recordHandle(MatchPtr const& match) {
   U64 key = keys_->keyOf(match.ptr());
   if (key != 0) keys_->recordHandleIs(key, handleOf(match));
}

AgentSession::Change AgentSession::program(EntrySpec const& spec) {
   MatchPtr existing = find(spec.match);
   TableEntry entry(existing ? existing : matchSpecOf(spec.match));
   entry.actionIs(actionSpecOf(spec.action));
   table_->entryIs(entry);
   recordHandle(entry.match());
   if (existing) return Change::changed;
   index_.emplace(spec.match, entry.match());
   return Change::added;
}

void AgentSession::remove(MatchKey const& key) {
   MatchPtr match = find(key);
   if (!match) throw InputError("no entry " + keyText(key) + " in the table");
   table_->entryDel(match);
   keys_->release(match.ptr());
   statuses_->statusDel(match.ptr());
   index_.erase(key);
}

void AgentSession::defaultIs(ActionValues const& action) {
   TableEntry entry(table_->defaultMatchSpecIs());
   entry.actionIs(actionSpecOf(action));
   table_->entryIs(entry);
   recordHandle(entry.match());
}

bool AgentSession::defaultReset() {
   MatchPtr match = table_->defaultMatchSpecIs();
   if (!table_->helper()->sdkHandles()->entryHas(match)) return false;
   table_->entryDel(match);
   keys_->release(match.ptr());
   statuses_->statusDel(match.ptr());
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
