// The key table after kills and damage: what open repairs, what it refuses, and that no
// intact record is ever lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "agent/KeyTable.h"
#include "support/KilledChild.h"
#include "support/Scratch.h"

namespace {

using testing::HasSubstr;
using testing::ThrowsMessage;
using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableAccess;
using TwiceNatAgent::KeyTableError;
using TwiceNatAgent::KeyTableRefused;
using TwiceNatTest::flipByte;
using TwiceNatTest::scratchPath;
using Config = KeyTable::EntryConfig;
using Records = std::map<U64, std::vector<U64>>;  // key: opId, handle, flags, generation

Records recordsOf(KeyTable const& t) {
   Records r;
   for (U64 slot = t.nextTakenSlot(0); slot < t.capacity(); slot = t.nextTakenSlot(slot + 1)) {
      EXPECT_EQ(t.slotState(slot), KeyTable::SlotState::used) << "open left damage in " << slot;
      Config c = t.record(slot + 1);
      r[c.key] = {c.opId, c.sdkEntryHandle, c.flags, c.generation};
   }
   EXPECT_EQ(t.count(), r.size());
   EXPECT_EQ(t.highestKey(), r.empty() ? 0 : r.rbegin()->first);
   return r;
}

// New records, handle changes (the one rewrite the agent makes: same generation and flags),
// removals, a bind: every kind of store the agent makes.
void script(KeyTable& t, std::function<void()> const& done) {
   auto rec = [&](U64 key, U64 handle, U16 flags) {
      U32 const generation = t.inUse(key) ? t.record(key).generation : t.generationIs();
      t.recordIs(Config(key, 0, handle, flags, generation));
      done();
   };
   rec(1, 101, 0);
   rec(5, 105, 0);
   rec(3, 103, 1);
   rec(5, 205, 0);  // handle change
   rec(3, 203, 1);
   t.recordDel(5);
   done();
   t.ownerIs(77);
   done();
   rec(8, 108, 0);
   t.recordDel(8);
   done();
}

TEST(KeyTableRepair, AKillBeforeAnyStoreLeavesTheStateBeforeOrAfterTheWriteInFlight) {
   std::string const path = scratchPath("keys");
   std::vector<Records> after;
   {
      auto t = KeyTable::create(path, 8);
      after.push_back(recordsOf(*t));
      script(*t, [&] { after.push_back(recordsOf(*t)); });
   }
   U64 kills = 0;
   for (U64 n = 1;; ++n) {
      SCOPED_TRACE("killed before store " + std::to_string(n));
      KeyTable::destroy(path);
      TwiceNatTest::ChildEnd const end = TwiceNatTest::runKilledBefore(n, [&](auto const& ack) {
         auto t = KeyTable::create(path, 8);
         script(*t, ack);
      });
      if (HasFailure() || end.finished) break;
      std::size_t const done = end.acknowledged;
      ++kills;
      if (!std::filesystem::exists(path)) {
         // Killed while the table was made aside: there is none yet.
         EXPECT_EQ(done, 0u);
         continue;
      }
      std::unique_ptr<KeyTable> t;
      ASSERT_NO_THROW(t = KeyTable::open(path));
      Records const now = recordsOf(*t);
      bool const ok = now == after[done] || (done + 1 < after.size() && now == after[done + 1]);
      EXPECT_TRUE(ok) << "after " << done << " writes";
      t->recordIs(Config(2, 0, 9, 0, t->generationIs()));  // and it takes writes again
      EXPECT_EQ(t->record(2).sdkEntryHandle, 9u);
      if (HasFailure()) break;
   }
   EXPECT_GT(kills, 20u);
}

TEST(KeyTableRepair, EveryHeaderByteAndEveryRecordByteFlipped) {
   std::string const path = scratchPath("keys");
   Records intact;
   {
      auto t = KeyTable::create(path, 16, 4242);
      for (U64 key : {1, 2, 7, 16}) {
         U32 const generation = t->generationIs();
         t->recordIs(Config(key, 500 + key, 1000 + key, key % 2, generation));
         intact[key] = {500 + key, 1000 + key, key % 2, generation};
      }
   }
   std::string const pristine = path + ".pristine";
   std::filesystem::copy_file(path, pristine);
   struct Target {
      std::size_t offset;
      U64 lostKey;  // the record the flip damages; 0 for the header
   };
   std::vector<Target> targets;
   for (std::size_t b = 0; b < KeyTable::headerBytes(); ++b)
      targets.push_back({b, 0});
   for (U64 key : {1, 7, 16}) {
      for (std::size_t b = 0; b < KeyTable::recordBytes(); ++b)
         targets.push_back({KeyTable::recordOffset(key - 1) + b, key});
   }
   targets.push_back({KeyTable::recordOffset(4), 0});  // a free slot: damage with nothing lost
   U64 refused = 0, repaired = 0;
   for (Target const& target : targets) {
      SCOPED_TRACE("byte " + std::to_string(target.offset));
      std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
      flipByte(path, target.offset);
      std::unique_ptr<KeyTable> t;
      try {
         t = KeyTable::open(path);
      } catch (KeyTableRefused const& e) {
         ++refused;
         EXPECT_THAT(e.msg(), HasSubstr(path));
         EXPECT_EQ(std::count(e.msg().begin(), e.msg().end(), '\n'), 0);
         continue;
      }
      repaired += t->openNotes().empty() ? 0 : 1;
      Records now = recordsOf(*t);
      Records expected = intact;
      // A flipped undo word or flag bit may leave a record whole; anything else loses it.
      if (target.lostKey && !now.count(target.lostKey)) expected.erase(target.lostKey);
      EXPECT_EQ(now, expected);
      t->recordIs(Config(3, 0, 33, 0, t->generationIs()));
      t->recordDel(3);
      std::unique_ptr<KeyTable> again = KeyTable::open(path);
      EXPECT_TRUE(again->openNotes().empty()) << "repairs were saved";
   }
   // Only the magic, the layout sizes and a check that disagrees in more than one field.
   EXPECT_GT(refused, 0u);
   EXPECT_LT(refused, 24u);
   EXPECT_GT(repaired, 40u);
}

TEST(KeyTableRepair, MisuseOwnerBindingAndReadOnlyOpens) {
   std::string const path = scratchPath("keys");
   KeyTable::openOrCreate(path, 8, 0)->recordIs(Config(1, 0, 11, 0, 1));
   EXPECT_EQ(KeyTable::openOrCreate(path, 8, 55)->owner(), 55u) << "bound at first use";
   struct stat st {};
   ASSERT_EQ(::stat(path.c_str(), &st), 0);
   EXPECT_EQ(st.st_mode & 0777, 0600u);
   {
      auto t = KeyTable::open(path);
      std::pair<std::function<void()>, char const*> const misuse[] = {
          {[&] { KeyTable::openOrCreate(path, 8, 66); }, ": belongs to chip 55"},
          {[&] { KeyTable::create(path, 4); }, "cannot be created: File exists"},
          {[&] { KeyTable::open(path + ".none"); }, "is missing"},
          {[&] { t->recordIs(Config(0, 0, 0, 0, 0)); }, "key 0 is outside 1..8"},
          {[&] { t->record(2); }, "key 2 has no record"},
          {[&] { t->recordDel(3); }, "key 3 has no record"},
      };
      for (auto const& [call, message] : misuse)
         EXPECT_THAT(call, ThrowsMessage<KeyTableError>(HasSubstr(message)));
   }

   // Damage seen read-only is repaired in the process only, and writes are refused.
   flipByte(path, 40);  // the record count
   for (int pass = 0; pass < 2; ++pass) {
      auto ro = KeyTable::open(path, KeyTableAccess::readOnly);
      ASSERT_EQ(ro->openNotes().size(), 1u);
      EXPECT_THAT(ro->openNotes()[0], HasSubstr("(read-only: not saved)"));
      EXPECT_EQ(ro->count(), 1u);
      EXPECT_THAT([&] { ro->recordDel(1); },
                  ThrowsMessage<KeyTableError>(HasSubstr("opened read-only")));
   }
   EXPECT_EQ(KeyTable::open(path)->openNotes().size(), 1u) << "the file was left as found";
}

}  // namespace
