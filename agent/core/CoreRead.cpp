// Reads: entries read back from the chip by the handle their key record holds.
#include "agent/core/CoreState.h"

namespace TwiceNatAgent {

namespace {

// Keys looked at per page beyond the entries it returns, so that a page that its filter
// thins out still ends after bounded work.
constexpr U64 kScanPerEntry = 16;
constexpr U64 kScanFloor = 1024;

bool passes(ReadFilter const& f, MatchKey const& k) {
   return (!f.dip || *f.dip == k.dip) && (!f.sip || *f.sip == k.sip) && (!f.vrf || *f.vrf == k.vrf);
}

}  // namespace

std::optional<EntryRow> CoreState::row(U64 key) const {
   MatchSpecPtr const match = matchOf(key);
   if (!match) return std::nullopt;
   EntryRow r;
   r.key = key;
   r.handle = keys->table().recordAsStored(key).sdkEntryHandle;
   TableEntry const read = table->entryByHandle(r.handle);
   std::optional<ActionValues> const action =
       read.match() && read.action() ? actionValuesOf(*read.action()) : std::nullopt;
   if (!action) {
      r.entry.match = matchKeyOf(*match);
      r.origin = EntryOrigin::missingOnChip;
      return r;
   }
   r.entry = {matchKeyOf(*read.match()), *action};
   // Without a status of its own the entry was found by the resync at this start.
   std::optional<EntryStatus> const status = statuses->keyStatus(key);
   r.origin = !status || status->state == EntryState::resynced ? EntryOrigin::resynced
                                                               : EntryOrigin::programmed;
   return r;
}

std::optional<ActionValues> CoreState::actionOf(U64 key) const {
   std::optional<EntryRow> const r = row(key);
   if (!r || r->origin == EntryOrigin::missingOnChip) return std::nullopt;
   return r->entry.action;
}

std::optional<EntryRow> AgentCore::read(MatchKey const& key) const {
   MatchKey fitted = key;
   if (!s_->fit(fitted, false).ok()) return std::nullopt;
   U32 const entryKey = s_->index.find(fitted);
   return entryKey ? s_->row(entryKey) : std::nullopt;
}

std::optional<EntryRow> AgentCore::readDefault() const {
   return s_->defaultKey ? s_->row(s_->defaultKey) : std::nullopt;
}

// Entries in the order of their keys, which an entry keeps for its life: one present for the
// whole read is met once, whatever changes between pages.
U64 AgentCore::readPage(U64 cursor, std::size_t max, ReadFilter const& filter,
                        std::vector<EntryRow>& out) const {
   KeyManager const& keys = *s_->keys;
   U64 const end = keys.keysTracked();
   U64 const limit =
       std::min<U64>(end, std::max<U64>(cursor, 1) + max * kScanPerEntry + kScanFloor);
   U64 key = std::max<U64>(cursor, 1);
   for (std::size_t taken = 0; taken < max; ++key) {
      key = keys.nextMatched(key, limit);
      if (key == 0) {
         key = limit + 1;
         break;
      }
      if (key == s_->defaultKey) continue;
      auto const& match =
          static_cast<BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec const&>(*keys.matchAt(key));
      if (!passes(filter, matchKeyOf(match))) continue;
      if (std::optional<EntryRow> r = s_->row(key)) {
         out.push_back(std::move(*r));
         ++taken;
      }
   }
   return key > end ? 0 : key;
}

}  // namespace TwiceNatAgent
