// The core's batches against a model of the table, on both back ends, with a chip and a key
// table small enough to fill: random batches over a few keys (so that inserts meet held keys
// and removes missing ones), one in two with an SDK call made to fail at a random moment. A
// batch that continues on error changes exactly what its OK statuses say; a dry run predicts
// every status of the batch that follows it and changes nothing; an atomic batch changes all
// or, rolled back, nothing. Each run ends with a restart that finds the model and nothing to
// reconcile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>

#include "chip/Faults.h"
#include "chip/Journal.h"
#include "support/CoreRig.h"

namespace TwiceNatCoreTest {
namespace {

using TwiceNatAgent::BatchMode;
using TwiceNatAgent::BatchResult;
using TwiceNatAgent::Code;
using TwiceNatAgent::Update;
using TwiceNatAgent::UpdateKind;
using Key = std::tuple<U32, U32, U16>;

constexpr U32 kKeys = 12;
constexpr U32 kBatches = 200;

// The table as the model and the core see it: entries by key, and the default.
struct Table {
   std::map<Key, std::string> entries;
   std::string dflt = "none";
   bool operator==(Table const&) const = default;
};

Key keyOf(MatchKey const& k, bool vrf) {
   return {k.dip, k.sip, vrf ? k.vrf : U16(0)};
}

Table tableOf(AgentCore const& core) {
   Table t;
   for (auto const& row : rowsOf(core, 5)) {
      EXPECT_NE(row.origin, TwiceNatAgent::EntryOrigin::missingOnChip);
      EXPECT_TRUE(
          t.entries.emplace(keyOf(row.entry.match, true), actionText(row.entry.action)).second)
          << "met twice";
   }
   if (auto d = core.readDefault()) t.dflt = actionText(d->entry.action);
   return t;
}

void PrintTo(Table const& t, std::ostream* os) {
   for (auto const& [k, a] : t.entries)
      *os << "\n  " << std::get<0>(k) % 256 << "/" << std::get<2>(k) << " " << a;
   *os << "\n  default " << t.dflt;
}

// What each update does to the model, and the status it should get when no fault meets it.
class Model {
 public:
   Model(bool vrf, U64 chipRoom, U64 keyRoom) : vrf_(vrf), chipRoom_(chipRoom), keyRoom_(keyRoom) {}

   Code expect(Update const& u) const {
      bool const held = t.entries.count(keyOf(u.entry.match, vrf_)) != 0;
      switch (u.kind) {
         case UpdateKind::insert:
            return held ? Code::alreadyExists : room(true);
         case UpdateKind::modify:
            return held ? Code::ok : Code::notFound;
         case UpdateKind::program:
            return held ? Code::ok : room(true);
         case UpdateKind::remove:
            return held ? Code::ok : Code::notFound;
         case UpdateKind::defaultSet:
            return t.dflt != "none" ? Code::ok : room(false);
         case UpdateKind::defaultReset:
            return Code::ok;
      }
      return Code::internal;
   }
   void apply(Update const& u) {
      Key const k = keyOf(u.entry.match, vrf_);
      if (u.kind == UpdateKind::remove) {
         t.entries.erase(k);
      } else if (u.kind == UpdateKind::defaultSet) {
         t.dflt = actionText(u.entry.action);
      } else if (u.kind == UpdateKind::defaultReset) {
         t.dflt = "none";
      } else {
         t.entries[k] = actionText(u.entry.action);
      }
   }
   Table t;

 private:
   // The key table is asked first, then the chip.
   Code room(bool chip) const {
      U64 const records = t.entries.size() + (t.dflt != "none");
      bool const full = records >= keyRoom_ || (chip && t.entries.size() >= chipRoom_);
      return full ? Code::resourceExhausted : Code::ok;
   }
   bool vrf_;
   U64 chipRoom_, keyRoom_;
};

struct Params {
   char const* name;
   chip::Profile profile;
   U32 keyCapacity;
   BatchMode mode;
};

// SDK calls a fault may hit: every call a batch makes, of each face.
std::vector<std::string> const kPdCalls = {
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_onMiss",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHitEcmp",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_onMiss",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_twiceNatAddrOnlyHit",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_modify_with_twiceNatAddrOnlyHitEcmp",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_delete",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_set_default_action_onMiss",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_set_default_action_twiceNatAddrOnlyHit",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_set_default_action_twiceNatAddrOnlyHitEcmp",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_table_reset_default_entry",
    "p4_pd_tolvex_switch_twiceNatAddrOnly_get_entry",
};
std::vector<std::string> const kBfrtCalls = {
    "tableEntryAdd",        "tableEntryModByHandle",  "tableEntryDelByHandle",
    "tableDefaultEntrySet", "tableDefaultEntryReset", "tableEntryGet",
    "data.setValue",
};
// The status the faults fail with, which no call of these tables meets otherwise.
constexpr chip::Status kFault = chip::status::kNoSysResources;

class CoreBatch : public testing::TestWithParam<Params> {
 protected:
   void TearDown() override {
      chip::faultsClear();
      chip::journalEnabledIs(false);
      chip::journalClear();
   }

   Update randomUpdate() {
      static constexpr UpdateKind kKinds[] = {
          UpdateKind::insert,  UpdateKind::insert,     UpdateKind::modify,
          UpdateKind::program, UpdateKind::program,    UpdateKind::remove,
          UpdateKind::remove,  UpdateKind::defaultSet, UpdateKind::defaultReset};
      Update u{kKinds[rng_() % std::size(kKinds)], entryOf(1 + rng_() % kKeys)};
      u.entry.action = {
          ActionKind(rng_() % 3), U16(rng_()), U16(rng_()), U8(rng_()), U8(rng_()), U16(rng_())};
      if (u.entry.action.kind == ActionKind::onMiss) u.entry.action = {};
      if (!GetParam().profile.vrfKeyField) u.entry.match.vrf = 0;
      return u;
   }

   std::mt19937 rng_{20261208};
};

TEST_P(CoreBatch, EveryBatchDoesWhatItsStatusesSayAgainstAModelWithFaults) {
   Params const& p = GetParam();
   Sdk sdk;
   StateFiles files(p.profile, p.keyCapacity);
   auto start = std::make_unique<Start>(files, sdk);
   AgentCore& core = start->s();
   U32 const keyRoom = p.keyCapacity ? p.keyCapacity : p.profile.capacity + 17;
   Model model(p.profile.vrfKeyField, p.profile.capacity, keyRoom);
   chip::journalEnabledIs(true);
   U64 faulted = 0, refused = 0, full = 0, rolledBack = 0;
   for (U32 b = 0; b < kBatches; ++b) {
      SCOPED_TRACE("batch " + std::to_string(b));
      std::vector<Update> batch(1 + rng_() % 8);
      for (Update& u : batch)
         u = randomUpdate();
      Table const before = tableOf(core);
      // One batch in two has each of its SDK calls fail at a random one of its first few.
      bool const faulting = rng_() % 2;
      for (std::string const& call : p.profile.bfrt ? kBfrtCalls : kPdCalls) {
         if (faulting) chip::faultIs(call, kFault, 1 + rng_() % 6);
      }
      chip::journalClear();
      if (p.mode == BatchMode::continueOnError && !faulting) {
         // What a dry run predicts, the batch does.
         BatchResult const dry = core.apply(batch, BatchMode::dryRun);
         ASSERT_EQ(tableOf(core), before) << "a dry run changes nothing";
         for (std::size_t i = 0; i < batch.size(); ++i) {
            Code const expected = model.expect(batch[i]);
            EXPECT_EQ(dry.statuses[i].code, expected) << "update " << i;
            if (expected == Code::ok) model.apply(batch[i]);  // as the batch would leave it
         }
         model.t = before;
      }
      BatchResult const r = core.apply(batch, p.mode);
      chip::faultsClear();
      ASSERT_EQ(r.statuses.size(), batch.size());
      bool const fired =
          std::ranges::any_of(chip::journal(), [](auto const& c) { return c.status == kFault; });
      faulted += fired;
      if (p.mode == BatchMode::rollbackOnError && !r.ok()) {
         // One update failed on its own (as the model expects, or by the fault) and everything
         // the batch did is undone; the others are ABORTED.
         ++rolledBack;
         auto const failing = std::ranges::find_if(
             r.statuses, [](auto const& s) { return s.code != Code::aborted; });
         ASSERT_NE(failing, r.statuses.end());
         std::size_t const at = std::size_t(failing - r.statuses.begin());
         EXPECT_EQ(std::ranges::count(r.statuses, Code::aborted, &TwiceNatAgent::Status::code),
                   std::ptrdiff_t(batch.size() - 1));
         Model ahead = model;
         std::size_t firstRefusal = batch.size();
         Code refusal = Code::ok;
         for (std::size_t i = 0; i < batch.size() && firstRefusal == batch.size(); ++i) {
            if ((refusal = ahead.expect(batch[i])) != Code::ok) firstRefusal = i;
            if (refusal == Code::ok) ahead.apply(batch[i]);
         }
         EXPECT_TRUE((at == firstRefusal && (failing->code == refusal || fired)) ||
                     (fired && at < firstRefusal))
             << "update " << at << " failed: " << failing->message;
         if (!r.rollbackFailure.empty()) {
            // An undo step met the fault: what stays is the batch's, entry by entry.
            ASSERT_TRUE(fired) << r.rollbackFailure;
            Table const now = tableOf(core);
            for (auto const& [k, a] : now.entries) {
               bool const was = before.entries.count(k) && before.entries.at(k) == a;
               EXPECT_TRUE(was || (ahead.t.entries.count(k) && ahead.t.entries.at(k) == a) ||
                           std::ranges::any_of(batch, [&](Update const& u) {
                              return keyOf(u.entry.match, true) == k &&
                                     actionText(u.entry.action) == a;
                           }));
            }
            model.t = now;
            continue;
         }
         EXPECT_TRUE(r.rolledBack && r.added + r.changed + r.removed == 0);
      } else {
         for (std::size_t i = 0; i < batch.size(); ++i) {
            SCOPED_TRACE("update " + std::to_string(i));
            TwiceNatAgent::Status const& s = r.statuses[i];
            Code const expected = model.expect(batch[i]);
            full += expected == Code::resourceExhausted;
            refused += expected != Code::ok;
            if (s.ok()) {
               EXPECT_EQ(expected, Code::ok);
               model.apply(batch[i]);
            } else if (s.code != expected) {
               EXPECT_TRUE(fired) << s.message;  // only the fault makes an OK update fail
            }
         }
      }
      ASSERT_EQ(tableOf(core), model.t);
   }
   chip::faultsClear();
   EXPECT_GT(faulted, 5u);
   if (p.mode == BatchMode::rollbackOnError) {
      EXPECT_GT(rolledBack, 10u);
   } else {
      EXPECT_GT(refused, 10u);
      EXPECT_GT(full, 2u) << "the batches filled the chip or the key table";
   }

   // What the chip and the key table hold agrees, whatever the faults left.
   start.reset();
   Start again(files, sdk);
   EXPECT_FALSE(again.s().startReport().reconciledAnything())
       << again.s().startReport().notes.back();
   EXPECT_EQ(tableOf(again.s()), model.t);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, CoreBatch,
    testing::Values(
        Params{"PdContinue", {8, 2, true, false, false}, 0, BatchMode::continueOnError},
        Params{"BfrtContinue", {8, 2, true, true, false}, 0, BatchMode::continueOnError},
        Params{"PdKeysFull", {64, 2, false, false, false}, 6, BatchMode::continueOnError},
        Params{"PdAtomic", {8, 2, true, false, false}, 0, BatchMode::rollbackOnError},
        Params{"BfrtAtomic", {8, 2, false, true, false}, 7, BatchMode::rollbackOnError}),
    [](auto const& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace TwiceNatCoreTest
