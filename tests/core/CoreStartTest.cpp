// The start's reconcile of what a kill or damage leaves between the chip and the key table, on
// both back ends: a chip entry without a record is adopted, a record without a chip entry
// dropped, a second record naming an entry another names dropped, damage met in the middle of
// the start's walk walked again; a read-only start only counts. And streamed reads: pages in
// key order that meet every entry present for the whole read once, whatever a writer does
// between them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "chip/SdkCall.h"
#include "support/CoreRig.h"

namespace TwiceNatCoreTest {
namespace {

using testing::HasSubstr;
using TwiceNatAgent::EntryRow;
using TwiceNatAgent::KeyTable;

struct Started {
   U64 adopted, dropped, rewalked;
   bool operator==(Started const&) const = default;
};
Started startedOf(AgentCore const& s) {
   auto const& r = s.startReport();
   return {r.adopted, r.dropped, r.rewalked};
}

// Entries (with their key and handle) and the default, as a start finds them.
std::map<std::string, EntryRow> rowsByKey(AgentCore const& s) {
   std::map<std::string, EntryRow> rows;
   for (EntryRow const& r : rowsOf(s))
      rows[TwiceNatAgent::keyText(r.entry.match)] = r;
   if (auto d = s.readDefault()) rows["default"] = *d;
   return rows;
}
std::map<std::string, std::string> contentsOf(AgentCore const& s) {
   std::map<std::string, std::string> c;
   for (auto const& [k, r] : rowsByKey(s))
      c[k] = actionText(r.entry.action);
   return c;
}

class Reconcile : public testing::TestWithParam<bool> {
 protected:
   chip::Profile const profile{64, 2, true, GetParam(), false};
   Sdk sdk;
   StateFiles files{profile};

   // Entries 1..n and a default; returns what a start then finds.
   std::map<std::string, EntryRow> programmed(U32 n, ActionValues const& dflt) {
      Start s(files, sdk);
      for (U32 i = 1; i <= n; ++i)
         EXPECT_TRUE(s.s().program(entryOf(i, ActionKind(i % 3), U16(i))).status.ok());
      EXPECT_TRUE(s.s().defaultIs({ActionKind::hit, 1, 2, 3, 4, 5}).status.ok());
      EXPECT_TRUE(s.s().defaultIs(dflt).status.ok());
      return rowsByKey(s.s());
   }
   // The start after must find nothing to settle and the same table.
   void settled(std::map<std::string, std::string> const& contents) {
      Start again(files, sdk);
      EXPECT_EQ(startedOf(again.s()), (Started{0, 0, 0})) << again.s().startReport().notes.back();
      EXPECT_EQ(contentsOf(again.s()), contents);
   }
};

TEST_P(Reconcile, OrphansAdoptedStaleRecordsDroppedAndAnOnMissDefaultKept) {
   auto const rows = programmed(4, ActionValues{});
   {
      // A kill between an add's chip entry and its record; one between a delete's chip entry
      // and its record.
      KeyTable::open(files.keys())->recordDel(rows.at(keyText(entryOf(2).match)).key);
      auto c = chip::Chip::open(files.chip());
      ASSERT_EQ(c->entryDel(rows.at(keyText(entryOf(3).match)).handle), chip::status::kOk);
   }
   std::map<std::string, std::string> expected;
   for (auto const& [k, r] : rows)
      expected[k] = actionText(r.entry.action);
   expected.erase(keyText(entryOf(3).match));
   for (int i = 0; i < 2; ++i) {
      Start ro(files, sdk, true);
      EXPECT_EQ(startedOf(ro.s()), (Started{1, 1, 0})) << "counted, each time: nothing changed";
      EXPECT_THAT(ro.s().startReport().notes.back(), HasSubstr("read-only start, not reconciled"));
   }
   {
      Start s(files, sdk);
      EXPECT_EQ(startedOf(s.s()), (Started{1, 1, 0}));
      EXPECT_EQ(contentsOf(s.s()), expected);
      EXPECT_EQ(s.s().keyTable().records, 4u) << "three entries and the default";
   }
   settled(expected);
}

// The start keeps one record per chip entry, the first by key, also for the default.
TEST_P(Reconcile, ASecondRecordNamingAnEntryIsDropped) {
   auto const rows = programmed(5, {ActionKind::ecmp, 9, 8, 7, 6, 5});
   {
      std::unique_ptr<KeyTable> kt = KeyTable::open(files.keys());
      U64 const spare = kt->highestKey() + 3;
      kt->recordIs({spare, 0, rows.at(keyText(entryOf(3).match)).handle, 0, 1});
      kt->recordIs(
          {spare + 1, 0, rows.at("default").handle, TwiceNatAgent::KeyRecordFlag::defaultEntry, 1});
   }
   std::map<std::string, std::string> expected;
   for (auto const& [k, r] : rows)
      expected[k] = actionText(r.entry.action);
   {
      Start s(files, sdk);
      EXPECT_EQ(startedOf(s.s()), (Started{0, 2, 0}));
      EXPECT_EQ(s.s().keyTable().records, 6u);
      EXPECT_EQ(contentsOf(s.s()), expected);
   }
   settled(expected);
}

// Damages the record of `key` in the file when the start first reads an entry back: after the
// key table's open checked it, before the resync's walk reaches it.
class DamageOnFirstRead final : public chip::CallWatcher {
 public:
   DamageOnFirstRead(std::string path, U64 key) : path_(std::move(path)), key_(key) {
      previous_ = chip::callWatcherIs(this);
   }
   ~DamageOnFirstRead() { chip::callWatcherIs(previous_); }
   chip::Status before(std::string_view name) override {
      if (!done && (name == "tableEntryGet" || name.ends_with("_get_entry"))) {
         done = true;
         TwiceNatTest::flipByte(path_, KeyTable::recordOffset(key_ - 1) + 12);
      }
      return chip::status::kOk;
   }
   void after(std::string_view, std::initializer_list<uint64_t>, chip::Status) override {}
   bool done = false;

 private:
   std::string path_;
   U64 key_;
   chip::CallWatcher* previous_;
};

TEST_P(Reconcile, DamageMetMidStartIsWalkedAgainAndItsEntryAdopted) {
   auto const rows = programmed(40, {ActionKind::hit, 1, 1, 1, 1, 1});
   std::map<std::string, std::string> expected;
   for (auto const& [k, r] : rows)
      expected[k] = actionText(r.entry.action);
   {
      DamageOnFirstRead damage(files.keys(), rows.at(keyText(entryOf(30).match)).key);
      Start s(files, sdk);
      ASSERT_TRUE(damage.done);
      EXPECT_EQ(startedOf(s.s()), (Started{1, 0, 1})) << s.s().startReport().notes.back();
      EXPECT_EQ(s.s().count(), 40u);
      EXPECT_EQ(contentsOf(s.s()), expected);
   }
   settled(expected);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, Reconcile, testing::Bool(),
                         [](auto const& info) { return info.param ? "Bfrt" : "Pd"; });

// A reader pages through the table while a writer, between pages, removes some entries, adds
// new ones and changes others: each entry present for the whole read is met exactly once.
TEST(StreamedRead, MeetsEveryEntryPresentThroughoutOnceWhateverChangesBetweenPages) {
   Sdk sdk;
   StateFiles files({1024, 2, true, true, false});
   Start s(files, sdk);
   AgentCore& core = s.s();
   std::mt19937 rng(7);
   constexpr U32 kEntries = 300;
   std::set<U32> held, touched;  // entry numbers held, and those the writer removed or added
   for (U32 n = 1; n <= kEntries; ++n) {
      ASSERT_TRUE(core.program(entryOf(n)).status.ok());
      held.insert(n);
   }
   std::vector<EntryRow> page;
   std::map<U32, int> met;
   U32 next = kEntries + 1;
   for (U64 cursor = 0;;) {
      page.clear();
      cursor = core.readPage(cursor, 16, {}, page);
      for (EntryRow const& r : page)
         ++met[r.entry.match.dip - 0x0A000000u];
      if (cursor == 0) break;
      for (int i = 0; i < 4; ++i) {
         U32 const gone = 1 + rng() % (next - 1);
         if (held.erase(gone)) {
            touched.insert(gone);
            EXPECT_TRUE(core.remove(entryOf(gone).match).status.ok());
         }
         touched.insert(next);
         held.insert(next);
         EXPECT_TRUE(core.program(entryOf(next++)).status.ok());
         U32 const changed = *std::next(held.begin(), rng() % held.size());
         EXPECT_TRUE(core.modify(entryOf(changed, ActionKind::ecmp, U16(rng()))).status.ok());
      }
   }
   U32 throughout = 0;
   for (U32 n = 1; n <= kEntries; ++n) {
      if (touched.count(n)) continue;
      ++throughout;
      EXPECT_EQ(met[n], 1) << "entry " << n;
   }
   EXPECT_GT(throughout, kEntries / 2);
   for (auto const& [n, times] : met)
      EXPECT_EQ(times, 1) << "entry " << n << " met more than once";

   // A filter keeps to its entries.
   TwiceNatAgent::ReadFilter onlyVrf1, onlyDip1;
   onlyVrf1.vrf = 1;
   onlyDip1.dip = 1;
   std::vector<EntryRow> vrf1;
   for (U64 cursor = core.readPage(0, 5, onlyVrf1, vrf1); cursor;)
      cursor = core.readPage(cursor, 5, onlyVrf1, vrf1);
   EXPECT_EQ(vrf1.size(),
             std::size_t(std::ranges::count_if(held, [](U32 n) { return n % 3 == 1; })));
   for (EntryRow const& r : vrf1)
      EXPECT_EQ(r.entry.match.vrf, 1);
   std::vector<EntryRow> none;
   for (U64 cursor = core.readPage(0, 1, onlyDip1, none); cursor;)
      cursor = core.readPage(cursor, 1, onlyDip1, none);
   EXPECT_TRUE(none.empty());

   // One key, and the default.
   EXPECT_EQ(core.read(entryOf(*held.begin()).match)->entry.match.dip,
             entryOf(*held.begin()).match.dip);
   EXPECT_FALSE(core.read(entryOf(next + 5).match));
   EXPECT_FALSE(core.readDefault());
}

}  // namespace
}  // namespace TwiceNatCoreTest
