// Single updates. The chip takes an entry before its key record is written, and lets it go
// before the record is cleared, so that a kill between the two leaves what the next start
// reconciles. The default entry is the one exception (see defaultReset).
#include <algorithm>

#include "agent/core/CoreState.h"

namespace TwiceNatAgent {

namespace {

Status noEntry(MatchKey const& key) {
   return refusal(Code::notFound, "no entry " + keyText(key) + " in the table");
}

Status unclaimedEntry(MatchKey const& key) {
   return refusal(Code::unavailable, "the entry " + keyText(key) +
                                         " could not be read back from the chip to change it");
}

}  // namespace

bool CoreState::claimed(U64 entryKey) {
   if (unclaimed.empty()) return true;
   auto const at = std::find(unclaimed.begin(), unclaimed.end(), entryKey);
   if (at == unclaimed.end()) return true;
   try {
      U32 const handle = keys->table().recordAsStored(entryKey).sdkEntryHandle;
      if (!table->resyncedEntryIs(entryKey, handle).match()) return false;
   } catch (...) {
      return false;
   }
   unclaimed.erase(at);
   return true;
}

Status refusal(Code code, std::string message) {
   return Status{code, std::move(message), 0};
}

Status CoreState::writable() const {
   if (config.readOnly) {
      return refusal(Code::unavailable, "the table was started read-only over key table " +
                                            config.keyTablePath + ": nothing can be changed");
   }
   if (holder && acting != holder) {
      return refusal(Code::unavailable,
                     "an all-or-nothing batch of another client holds the table: try again "
                     "when it ends");
   }
   return {};
}

Status CoreState::fit(MatchKey& key, bool strictVrf) const {
   if (vrf) {
      key.vrfGiven = true;
      return {};
   }
   if (key.vrfGiven && (strictVrf || key.vrf != 0)) {
      return refusal(Code::invalidArgument, "this chip's table has no VRF key field: a VRF (" +
                                                std::to_string(key.vrf) + ") cannot be given");
   }
   key.vrfGiven = false;
   key.vrf = 0;
   return {};
}

Programmed CoreState::program(UpdateKind kind, EntrySpec const& e, MatchSpecPtr fresh) {
   if (Status s = writable(); !s.ok()) return {std::move(s)};
   MatchKey key = e.match;
   if (Status s = fit(key, false); !s.ok()) return {std::move(s)};
   EntryIndex::Position const at = index.locate(key);
   if (at.entryKey && kind == UpdateKind::insert) {
      return {refusal(Code::alreadyExists, "an entry " + keyText(key) + " is in the table")};
   }
   if (!at.entryKey && kind == UpdateKind::modify) return {noEntry(key)};
   if (at.entryKey && !claimed(at.entryKey)) return {unclaimedEntry(key)};
   MatchSpecPtr match = at.entryKey ? matchOf(at.entryKey) : std::move(fresh);
   if (!match) match = matchSpecOf(key);
   TableEntry entry(match);
   entry.actionIs(actionSpecOf(e.action));
   Table::Programming done;
   try {
      done = table->entryIsReported(entry);
   } catch (...) {
      return {statusOf(std::current_exception())};
   }
   if (done.path != Table::Programming::Path::added) {
      return {{}, Change::changed, at.entryKey, done.sdkHandle};
   }
   index.insertAt(at, key, U32(done.key));
   Programmed out{{}, Change::added, done.key, done.sdkHandle};
   try {
      keys->recordHandleIs(done.key, done.sdkHandle);
   } catch (...) {
      // The chip and the table hold the entry; the next start adopts it.
      out.status = statusOf(std::current_exception());
   }
   return out;
}

Programmed CoreState::remove(MatchKey key) {
   if (Status s = writable(); !s.ok()) return {std::move(s)};
   if (Status s = fit(key, false); !s.ok()) return {std::move(s)};
   U32 const entryKey = index.find(key);
   if (!entryKey) return {noEntry(key)};
   if (!claimed(entryKey)) return {unclaimedEntry(key)};
   MatchSpecPtr const match = matchOf(entryKey);
   U32 const handle = keys->table().recordAsStored(entryKey).sdkEntryHandle;
   try {
      table->entryDel(match);
   } catch (...) {
      Status failed = statusOf(std::current_exception());
      // The BfRt back end lets go of an entry before it asks the SDK, so after a refusal it
      // no longer holds the entry the chip still holds: it takes it in again from its record,
      // now or before the entry is next changed.
      if (bfrt) {
         unclaimed.push_back(entryKey);
         claimed(entryKey);
      }
      return {std::move(failed)};
   }
   statuses->keyStatusDel(entryKey);
   index.erase(key);
   Programmed out{{}, Change::removed, entryKey, handle};
   try {
      keys->free(entryKey);
   } catch (...) {
      out.status = statusOf(std::current_exception());
   }
   return out;
}

Programmed CoreState::defaultIs(ActionValues const& action) {
   if (Status s = writable(); !s.ok()) return {std::move(s)};
   TableEntry entry(defaultMatch);
   entry.actionIs(actionSpecOf(action));
   Table::Programming done;
   try {
      done = table->entryIsReported(entry);
   } catch (...) {
      return {statusOf(std::current_exception())};
   }
   Programmed out{{}, defaultKey ? Change::changed : Change::added, defaultKey, done.sdkHandle};
   defaultHandle = done.sdkHandle;
   if (done.key == 0) return out;
   // The library took a key: the first setting, or one after a reset that failed and left a
   // record the table no longer held. The new record is written before the old one goes; a
   // start that finds both keeps one.
   try {
      keys->recordHandleIs(done.key, done.sdkHandle, KeyRecordFlag::defaultEntry);
      if (defaultKey) keys->free(defaultKey);
   } catch (...) {
      out.status = statusOf(std::current_exception());
   }
   defaultKey = out.key = done.key;
   return out;
}

bool CoreState::defaultHeld() {
   if (keys->matchAt(defaultKey) == defaultMatch.ptr()) return true;
   try {
      TableEntry const read = table->resyncedEntryIs(defaultKey, defaultHandle);
      return read.match() && table->resyncedMatchIs(defaultKey, read.match(), defaultMatch);
   } catch (...) {
      return false;
   }
}

// The record goes before the chip's default is reset: a kill between the two leaves a chip
// default without a record, which the next start adopts as it was (or finds reset, when it
// held what a reset leaves). A record over a reset default is then always a default set to
// onMiss, which a start keeps as set.
Programmed CoreState::defaultReset() {
   if (Status s = writable(); !s.ok()) return {std::move(s)};
   if (defaultKey == 0) return {};
   if (!defaultHeld()) {
      return {refusal(Code::unavailable,
                      "the default entry could not be read back from the chip to reset it")};
   }
   U64 const key = defaultKey;
   U32 const handle = defaultHandle;
   statuses->keyStatusDel(key);
   try {
      keys->free(key);
   } catch (...) {
      return {statusOf(std::current_exception())};
   }
   defaultKey = 0;
   try {
      table->entryDel(defaultMatch);
   } catch (...) {
      Status failed = statusOf(std::current_exception());
      // The chip keeps its default, so its record comes back (and the BfRt back end, which
      // let the default go before it asked the SDK, takes it in again).
      try {
         defaultKey = keys->alloc(nullptr, false);
         keys->recordHandleIs(defaultKey, handle, KeyRecordFlag::defaultEntry);
         if (bfrt) {
            defaultHeld();
         } else {
            keys->populate(defaultKey, defaultMatch);
         }
      } catch (...) {
      }
      return {std::move(failed)};
   }
   return {{}, Change::removed, key, handle};
}

Programmed CoreState::apply(Update const& u, MatchSpecPtr fresh) {
   switch (u.kind) {
      case UpdateKind::insert:
      case UpdateKind::modify:
      case UpdateKind::program:
         return program(u.kind, u.entry, std::move(fresh));
      case UpdateKind::remove:
         return remove(u.entry.match);
      case UpdateKind::defaultSet:
         return defaultIs(u.entry.action);
      case UpdateKind::defaultReset:
         return defaultReset();
   }
   return {refusal(Code::invalidArgument, "no such kind of update")};
}

MatchSpecPtr Lookahead::at(std::span<Update const> part, std::size_t i) {
   if (i + kSlots < part.size()) {
      MatchKey key = part[i + kSlots].entry.match;
      if (s_.fit(key, false).ok()) s_.index.prefetch(key);
   }
   if (i == 0) {
      for (std::size_t j = 0; j < kMatches && j < part.size(); ++j)
         stage(part[j], made_[j % kMatches]);
   }
   MatchSpecPtr made = std::move(made_[i % kMatches]);
   if (i + kMatches < part.size()) stage(part[i + kMatches], made_[(i + kMatches) % kMatches]);
   return made;
}

void Lookahead::stage(Update const& u, MatchSpecPtr& made) {
   made = nullptr;
   MatchKey key = u.entry.match;
   if (isDefaultUpdate(u.kind) || !s_.fit(key, false).ok()) return;
   if (U32 const entryKey = s_.index.find(key)) {
      s_.keys->prefetchKey(entryKey);
      s_.statuses->prefetch(entryKey);
   } else if (u.kind == UpdateKind::insert || u.kind == UpdateKind::program) {
      made = matchSpecOf(key);
   }
}

}  // namespace TwiceNatAgent
