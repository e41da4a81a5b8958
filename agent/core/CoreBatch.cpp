// Batches and transactions: every update on its own (continue on error), all or nothing
// (roll back on error: an undo record of what each update replaced, played backwards on the
// first failure), or checked against the table as the batch would leave it (dry run).
#include "agent/core/CoreState.h"

namespace TwiceNatAgent {

namespace {

bool isDefault(UpdateKind kind) {
   return kind == UpdateKind::defaultSet || kind == UpdateKind::defaultReset;
}

void countChange(BatchResult& r, Change c) {
   if (c == Change::added) ++r.added;
   if (c == Change::changed) ++r.changed;
   if (c == Change::removed) ++r.removed;
}

Status aborted() {
   return refusal(Code::aborted, "not applied: another update of its atomic batch failed");
}

// The batch checked against the table as it would leave it: which keys it adds and removes,
// whether a default is set, and the room left on the chip and in the key table.
class DryRun {
 public:
   explicit DryRun(CoreState& s) : s_(s) {}

   Programmed check(Update const& u) {
      if (Status st = s_.writable(); !st.ok()) return {std::move(st)};
      if (!started_) {
         started_ = true;
         chipRoom_ = I64(s_.inventory.entryCapacity()) - I64(s_.inventory.entryCount());
         keyRoom_ = I64(s_.keys->capacity()) - I64(s_.keys->size()) - I64(s_.keys->reservations());
         defaultSet_ = s_.defaultKey != 0;
      }
      if (u.kind == UpdateKind::defaultSet) {
         if (defaultSet_) return {{}, Change::changed};
         if (keyRoom_ <= 0) return {keysFull("the default entry")};
         --keyRoom_;
         defaultSet_ = true;
         return {{}, Change::added};
      }
      if (u.kind == UpdateKind::defaultReset) {
         if (!defaultSet_) return {};
         ++keyRoom_;
         defaultSet_ = false;
         return {{}, Change::removed};
      }
      MatchKey key = u.entry.match;
      if (Status st = s_.fit(key, false); !st.ok()) return {std::move(st)};
      U32 const marked = overlay_.find(key);
      bool const held = marked ? marked == kHeld : s_.index.find(key) != 0;
      if (u.kind == UpdateKind::remove) {
         if (!held) return {refusal(Code::notFound, "no entry " + keyText(key) + " in the table")};
         ++chipRoom_;
         ++keyRoom_;
         overlay_.insert(key, kGone);
         return {{}, Change::removed};
      }
      if (held && u.kind == UpdateKind::insert) {
         return {refusal(Code::alreadyExists, "an entry " + keyText(key) + " is in the table")};
      }
      if (held) return {{}, Change::changed};
      if (u.kind == UpdateKind::modify) {
         return {refusal(Code::notFound, "no entry " + keyText(key) + " in the table")};
      }
      if (chipRoom_ <= 0) {
         return {refusal(Code::resourceExhausted, "the chip's table is full: all " +
                                                      std::to_string(s_.inventory.entryCapacity()) +
                                                      " entries would be in use before " +
                                                      keyText(key))};
      }
      if (keyRoom_ <= 0) return {keysFull(keyText(key))};
      --chipRoom_;
      --keyRoom_;
      overlay_.insert(key, kHeld);
      return {{}, Change::added};
   }

 private:
   static constexpr U32 kHeld = 1, kGone = 2;

   Status keysFull(std::string const& what) const {
      return refusal(Code::resourceExhausted,
                     "key table " + s_.config.keyTablePath + " would be full before " + what);
   }

   CoreState& s_;
   bool started_ = false;
   I64 chipRoom_ = 0, keyRoom_ = 0;
   bool defaultSet_ = false;
   EntryIndex overlay_;  // keys the batch adds (kHeld) or removes (kGone)
};

class CoreTransaction final : public AgentCore::Transaction {
 public:
   CoreTransaction(CoreState& s, BatchMode mode) : s_(s), mode_(mode), dry_(s) {}
   // Uncommitted, a rollbackOnError transaction undoes what it did.
   ~CoreTransaction() override { rollback(); }

   BatchResult apply(std::span<Update const> part) override {
      BatchResult r;
      r.statuses.reserve(part.size());
      if (closed_) {
         r.statuses.assign(part.size(), aborted());
         r.failed = part.size();
         totals_.failed += part.size();
         return r;
      }
      for (std::size_t i = 0; i < part.size(); ++i) {
         Update const& u = part[i];
         Programmed p;
         if (mode_ == BatchMode::dryRun) {
            p = dry_.check(u);
         } else if (mode_ == BatchMode::continueOnError) {
            p = s_.apply(u);
         } else {
            Before b;
            if (Status st = before(u, b); !st.ok()) return failed(r, part.size(), i, std::move(st));
            p = s_.apply(u);
            if (p.change != Change::none)
               undo_.push_back({inverse(u, p.change, b), p.change, seen_ + i});
            if (!p.status.ok()) return failed(r, part.size(), i, std::move(p.status));
         }
         countChange(r, p.change);
         if (!p.status.ok()) ++r.failed;
         r.statuses.push_back(std::move(p.status));
      }
      seen_ += part.size();
      totals_.added += r.added;
      totals_.changed += r.changed;
      totals_.removed += r.removed;
      totals_.failed += r.failed;
      return r;
   }

   BatchResult const& totals() const override { return totals_; }

   void commit() override {
      closed_ = true;
      undo_.clear();
   }

   // Only a rollbackOnError transaction keeps an undo record; the others just end.
   BatchResult rollback() override {
      if (!closed_ && mode_ == BatchMode::rollbackOnError) {
         totals_.rolledBack = !undo_.empty();
         undoAll();
      }
      closed_ = true;
      return totals_;
   }

 private:
   // What an update is about to replace or remove, for its undo.
   struct Before {
      ActionValues action;
   };
   struct Undo {
      Update inverse;
      Change done;     // what the update did, which stays when its undo fails
      std::size_t at;  // the update's place in the transaction
   };

   Status before(Update const& u, Before& b) const {
      U64 key = 0;
      MatchKey match = u.entry.match;
      if (isDefault(u.kind)) {
         key = s_.defaultKey;
      } else if (u.kind != UpdateKind::insert && s_.fit(match, false).ok()) {
         key = s_.index.find(match);
      }
      if (key == 0) return {};  // the update adds, or fails on its own
      std::optional<ActionValues> const action = s_.actionOf(key);
      if (!action) {
         return refusal(Code::unavailable,
                        "could not read back what the update replaces, to be able to undo it");
      }
      b.action = *action;
      return {};
   }

   static Update inverse(Update const& u, Change done, Before const& b) {
      bool const dflt = isDefault(u.kind);
      switch (done) {
         case Change::added:
            return dflt ? Update{UpdateKind::defaultReset, {}}
                        : Update{UpdateKind::remove, {u.entry.match, {}}};
         case Change::changed:
            return dflt ? Update{UpdateKind::defaultSet, {{}, b.action}}
                        : Update{UpdateKind::modify, {u.entry.match, b.action}};
         case Change::removed:
            return dflt ? Update{UpdateKind::defaultSet, {{}, b.action}}
                        : Update{UpdateKind::insert, {u.entry.match, b.action}};
         case Change::none:
            break;
      }
      return u;
   }

   // The first failure of a rollbackOnError transaction: every update it made undone, newest
   // first, and every update of this part but the failing one ABORTED.
   BatchResult& failed(BatchResult& r, std::size_t n, std::size_t at, Status status) {
      undoAll();
      r.statuses.assign(n, aborted());
      r.statuses[at] = std::move(status);
      r.failed = n;
      r.rolledBack = true;
      totals_.failed += n;
      totals_.rolledBack = true;
      r.added = totals_.added;
      r.changed = totals_.changed;
      r.removed = totals_.removed;
      r.rollbackFailure = totals_.rollbackFailure;
      return r;
   }

   // Leaves in the totals what stays done: the updates whose undo the SDK refused.
   void undoAll() {
      closed_ = true;
      totals_.added = totals_.changed = totals_.removed = 0;
      for (auto u = undo_.rbegin(); u != undo_.rend(); ++u) {
         Programmed const p = s_.apply(u->inverse);
         if (p.status.ok()) continue;
         countChange(totals_, u->done);
         if (totals_.rollbackFailure.empty()) {
            totals_.rollbackFailure =
                "the undo of update " + std::to_string(u->at + 1) + " failed: " + p.status.message;
         }
      }
      undo_.clear();
   }

   CoreState& s_;
   BatchMode const mode_;
   DryRun dry_;
   std::vector<Undo> undo_;
   BatchResult totals_;
   std::size_t seen_ = 0;  // updates of the parts before
   bool closed_ = false;
};

}  // namespace

std::unique_ptr<AgentCore::Transaction> AgentCore::begin(BatchMode mode) {
   return std::make_unique<CoreTransaction>(*s_, mode);
}

}  // namespace TwiceNatAgent
