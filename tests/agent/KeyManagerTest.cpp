#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "ServiceTestSupport.h"
#include "agent/KeyManager.h"

namespace {

using TwiceNatAgent::KeyManager;
using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableError;
using TwiceNatAgentTest::flipByte;
using TwiceNatAgentTest::TablePath;
using TwiceNatAgentTest::TestMatch;
using Key = KeyManager::EntryKey;

struct Step {
   Key key;
   U32 handle;
};

// Walks the map as a table's resync does: from the first record on, stopping at the end or at
// the first corruption, whose message goes to `corruption`.
std::vector<Step> walk(KeyManager const& km, std::string* corruption = nullptr) {
   std::vector<Step> seen;
   Drosk::DroskMapBase& map = km.mbbDroskTableConfig()->map();
   Drosk::MbbPostcodef::EntryConfig rec(0, 0, 0, 0, 0);
   Drosk::IterHint hint;
   try {
      for (bool more = map.entryFirst(rec, hint); more; more = map.entryNext(rec.key, rec, hint)) {
         EXPECT_TRUE(hint.valid);
         EXPECT_EQ(hint.slot, rec.key - 1);
         seen.push_back({rec.key, rec.sdkEntryHandle});
      }
   } catch (Pemra::CorruptionDetectedException const& e) {
      if (corruption)
         *corruption = e.msg();
      else
         ADD_FAILURE() << e.msg();
   }
   return seen;
}

std::vector<Key> keysOf(std::vector<Step> const& steps) {
   std::vector<Key> keys;
   for (auto const& s : steps)
      keys.push_back(s.key);
   return keys;
}

class KeyManagerTest : public testing::Test {
 protected:
   KeyManager::Ptr managerOf(U64 capacity) {
      return KeyManager::keyManagerIs(KeyTable::create(path_.str(), capacity));
   }
   TablePath path_;
};

TEST_F(KeyManagerTest, AllocFreeAndTheHighestKeyMark) {
   auto km = managerOf(6);
   // op: 'a' alloc lowest free, 'A' alloc above the mark, 'f' free `arg`.
   struct Case {
      char op;
      Key arg;
      Key key;
      Key mark;
      U64 size;
   } const script[] = {
       {'a', 0, 1, 1, 1}, {'a', 0, 2, 2, 2}, {'a', 0, 3, 3, 3}, {'f', 2, 0, 3, 2},
       {'A', 0, 4, 4, 3}, {'a', 0, 2, 4, 4}, {'f', 4, 0, 3, 3}, {'f', 3, 0, 2, 2},
       {'A', 0, 3, 3, 3}, {'f', 1, 0, 3, 2}, {'a', 0, 1, 3, 3}, {'A', 0, 4, 4, 4},
       {'A', 0, 5, 5, 5}, {'A', 0, 6, 6, 6}, {'f', 2, 0, 6, 5}, {'A', 0, 2, 6, 6},
   };
   int line = 0;
   for (auto const& c : script) {
      ++line;
      if (c.op == 'f') {
         km->free(c.arg);
      } else {
         EXPECT_EQ(km->alloc(nullptr, c.op == 'A'), c.key) << "step " << line;
         EXPECT_EQ(km->record(c.key).sdkEntryHandle, 0u);
      }
      EXPECT_EQ(km->highestKey(), c.mark) << "step " << line;
      EXPECT_EQ(km->size(), c.size) << "step " << line;
   }
   EXPECT_THAT([&] { km->alloc(nullptr, false); },
               testing::ThrowsMessage<KeyTableError>(testing::HasSubstr("is full: all 6 keys")));
}

TEST_F(KeyManagerTest, MatchesAreHeldWhileAssociated) {
   auto km = managerOf(8);
   auto a = TestMatch::testMatchIs();
   auto b = TestMatch::testMatchIs();
   Key ka = km->alloc(a, false);
   Key kb = km->alloc(b, false);
   EXPECT_EQ(km->keyOf(a.ptr()), ka);
   EXPECT_EQ(km->matchOf(kb), b);
   EXPECT_GT(a->references(), 1u);
   EXPECT_EQ(km->matches(), 2u);

   EXPECT_THAT([&] { km->alloc(a, false); },
               testing::ThrowsMessage<KeyTableError>(testing::HasSubstr("already holds key 1")));
   km->free(ka);
   EXPECT_EQ(a->references(), 1u);
   EXPECT_EQ(km->keyOf(a.ptr()), 0u);
   EXPECT_EQ(km->matchOf(ka), nullptr);

   km->recordHandleIs(kb, 0xBEEF);
   EXPECT_EQ(km->record(kb).sdkEntryHandle, 0xBEEFu);
   EXPECT_EQ(km->release(b.ptr()), kb);
   EXPECT_EQ(km->release(b.ptr()), 0u);
   EXPECT_EQ(b->references(), 1u);
   EXPECT_EQ(km->size(), 0u);
}

TEST_F(KeyManagerTest, PopulateAssociatesExistingRecords) {
   auto km = managerOf(8);
   Key k1 = km->alloc(nullptr, false);
   Key k2 = km->alloc(nullptr, false);
   auto m = TestMatch::testMatchIs();
   auto other = TestMatch::testMatchIs();
   km->populate(k1, m);
   EXPECT_EQ(km->keyOf(m.ptr()), k1);
   km->populate(k1, m);  // again with the same pair: no change
   EXPECT_EQ(km->matches(), 1u);
   km->populate(k1, other);  // the key moves to another match
   EXPECT_EQ(km->keyOf(m.ptr()), 0u);
   EXPECT_EQ(km->matchOf(k1), other);
   EXPECT_EQ(m->references(), 1u);
   km->populate(k1, nullptr);  // key stays reserved, match forgotten
   EXPECT_EQ(km->matchOf(k1), nullptr);
   EXPECT_EQ(other->references(), 1u);
   EXPECT_EQ(km->size(), 2u);

   km->populate(k2, m);
   struct Case {
      char const* what;
      Key key;
      BfnTable::MatchSpecBase::PtrConst match;
      char const* expected;
   } const cases[] = {
       {"key without record", 5, other, "key 5 has no record"},
       {"key 0", 0, other, "key 0 is outside"},
       {"match holding another key", k1, m, "already holds key 2"},
   };
   for (auto const& c : cases) {
      EXPECT_THAT([&] { km->populate(c.key, c.match); },
                  testing::ThrowsMessage<KeyTableError>(testing::HasSubstr(c.expected)))
          << c.what;
   }
   for (Key bad : {Key(0), Key(3), Key(9)})
      EXPECT_THROW(km->free(bad), KeyTableError) << bad;
   EXPECT_EQ(km->matchOf(k2), m);
}

TEST_F(KeyManagerTest, DestroyingTheManagerReleasesEveryMatch) {
   std::vector<TestMatch::Ptr> matches;
   {
      auto km = managerOf(16);
      for (int i = 0; i < 10; ++i) {
         matches.push_back(TestMatch::testMatchIs());
         km->alloc(matches.back(), i % 2 == 0);
      }
      km->populate(km->keyOf(matches[0].ptr()), nullptr);
   }
   for (auto const& m : matches)
      EXPECT_EQ(m->references(), 1u);
   // The records outlive the manager in the file.
   EXPECT_EQ(KeyTable::open(path_.str())->count(), 10u);
}

TEST_F(KeyManagerTest, MapHandsOutRecordsInAscendingKeyOrder) {
   auto km = managerOf(10);
   EXPECT_TRUE(walk(*km).empty());
   for (int i = 0; i < 7; ++i)
      km->alloc(nullptr, false);
   for (Key k : {1, 3, 6})
      km->free(k);
   for (Key k : {2, 4, 5, 7})
      km->recordHandleIs(k, U32(100 + k));
   std::vector<Step> seen = walk(*km);
   ASSERT_EQ(keysOf(seen), (std::vector<Key>{2, 4, 5, 7}));
   for (auto const& s : seen)
      EXPECT_EQ(s.handle, 100 + s.key);

   // Past the last key, and from a key that is not in use.
   Drosk::MbbPostcodef::EntryConfig rec(0, 0, 0, 0, 0);
   Drosk::IterHint hint;
   auto& map = km->mbbDroskTableConfig()->map();
   EXPECT_FALSE(map.entryNext(7, rec, hint));
   EXPECT_FALSE(map.entryNext(10, rec, hint));
   EXPECT_FALSE(map.entryNext(~Key(0), rec, hint));
   ASSERT_TRUE(map.entryNext(3, rec, hint));
   EXPECT_EQ(rec.key, 4u);
}

TEST_F(KeyManagerTest, ASecondProcessSeesTheTableWhole) {
   auto km = managerOf(64);
   Key mine = km->alloc(nullptr, false);
   std::fflush(nullptr);
   pid_t child = ::fork();
   ASSERT_GE(child, 0);
   if (child == 0) {
      // Its own manager over the same file: keys 2..41 with handles, then 10 of them freed.
      int rc = 0;
      try {
         auto other = KeyManager::keyManagerIs(KeyTable::open(path_.str()));
         for (int i = 0; i < 40; ++i) {
            Key k = other->alloc(nullptr, false);
            other->recordHandleIs(k, U32(k * 1000 + 7));
         }
         for (Key k = 10; k < 30; k += 2)
            other->free(k);
         other->highestKeyIs(41);
      } catch (...) {
         rc = 1;
      }
      ::_exit(rc);
   }
   int status = 0;
   ASSERT_EQ(::waitpid(child, &status, 0), child);
   ASSERT_TRUE(WIFEXITED(status));
   ASSERT_EQ(WEXITSTATUS(status), 0);

   std::vector<Key> expected{mine};
   for (Key k = 2; k <= 41; ++k) {
      if (k < 10 || k >= 30 || k % 2 == 1) expected.push_back(k);
   }
   // Seen through this process's own mapping, and through a fresh open of the file.
   auto fresh = KeyManager::keyManagerIs(KeyTable::open(path_.str()));
   for (auto* m : {km.ptr(), fresh.ptr()}) {
      std::vector<Step> seen = walk(*m);
      EXPECT_EQ(keysOf(seen), expected);
      for (auto const& s : seen)
         EXPECT_EQ(s.handle, s.key == mine ? 0 : s.key * 1000 + 7);
      EXPECT_EQ(m->size(), expected.size());
      EXPECT_EQ(m->highestKey(), 41u);
   }
   // The keys the child freed are handed out again here.
   EXPECT_EQ(km->alloc(nullptr, false), 10u);
}

struct Damage {
   Key key;           // record whose byte flips
   std::size_t byte;  // offset inside the record
};

void PrintTo(Damage const& d, std::ostream* os) {
   *os << "key " << d.key << " byte " << d.byte;
}

class KeyManagerCorruption : public KeyManagerTest, public testing::WithParamInterface<Damage> {};

TEST_P(KeyManagerCorruption, WalkStopsAtTheDamageAndRepairKeepsTheRest) {
   Damage const d = GetParam();
   auto km = managerOf(12);
   std::vector<TestMatch::Ptr> matches;
   for (Key k = 1; k <= 8; ++k) {
      matches.push_back(TestMatch::testMatchIs());
      ASSERT_EQ(km->alloc(matches.back(), false), k);
      km->recordHandleIs(k, U32(500 + k));
   }
   flipByte(path_.str(), KeyTable::recordOffset(d.key - 1) + d.byte);

   std::string message;
   std::vector<Step> before = walk(*km, &message);
   std::vector<Key> intactBefore;
   for (Key k = 1; k < d.key; ++k)
      intactBefore.push_back(k);
   EXPECT_EQ(keysOf(before), intactBefore);
   EXPECT_THAT(message, testing::HasSubstr("slot " + std::to_string(d.key - 1) + " (key " +
                                           std::to_string(d.key) + ") fails its check"));

   testing::internal::CaptureStderr();
   km->mbbDroskTableConfig()->map().doCorruptionDetected(message);
   std::string report = testing::internal::GetCapturedStderr();
   EXPECT_THAT(report,
               testing::HasSubstr("dropped 1 damaged record(s): keys " + std::to_string(d.key)));
   EXPECT_EQ(km->tableMap().droppedKeys(), std::vector<Key>{d.key});
   EXPECT_EQ(km->tableMap().repairs(), 1u);
   EXPECT_EQ(km->tableMap().lastCorruption(), message);
   EXPECT_EQ(km->size(), 7u);
   EXPECT_EQ(km->matchOf(d.key), nullptr);
   EXPECT_EQ(matches[d.key - 1]->references(), 1u);

   std::vector<Step> after = walk(*km);
   std::vector<Key> survivors;
   for (Key k = 1; k <= 8; ++k) {
      if (k != d.key) survivors.push_back(k);
   }
   EXPECT_EQ(keysOf(after), survivors);
   for (auto const& s : after) {
      EXPECT_EQ(s.handle, 500 + s.key);
      EXPECT_EQ(km->matchOf(s.key), matches[s.key - 1]);
   }
   EXPECT_EQ(km->alloc(nullptr, false), d.key);  // the dropped key is free again
}

INSTANTIATE_TEST_SUITE_P(, KeyManagerCorruption,
                         testing::Values(Damage{1, 0}, Damage{4, 8}, Damage{5, 12}, Damage{6, 22},
                                         Damage{8, 31}),
                         [](auto const& info) {
                            return "key" + std::to_string(info.param.key) + "_byte" +
                                   std::to_string(info.param.byte);
                         });

TEST_F(KeyManagerTest, HundredThousandKeys) {
   constexpr U64 kKeys = 100000;
   auto km = managerOf(kKeys);
   using Clock = std::chrono::steady_clock;
   auto t0 = Clock::now();
   for (U64 i = 1; i <= kKeys; ++i) {
      Key k = km->alloc(nullptr, false);
      if (k != i) FAIL() << "alloc " << i << " gave " << k;
      km->recordHandleIs(k, U32(i ^ 0x5555));
   }
   auto t1 = Clock::now();
   std::vector<Step> seen = walk(*km);
   auto t2 = Clock::now();
   ASSERT_EQ(seen.size(), kKeys);
   for (U64 i = 0; i < kKeys; ++i) {
      if (seen[i].key != i + 1 || seen[i].handle != U32((i + 1) ^ 0x5555)) {
         FAIL() << "record " << i << " is key " << seen[i].key;
      }
   }
   EXPECT_THROW(km->alloc(nullptr, false), KeyTableError);
   for (U64 i = 1; i <= kKeys; i += 2)
      km->free(i);
   for (U64 i = 1; i <= kKeys; i += 2) {
      if (km->alloc(nullptr, false) != i) FAIL() << "reuse of " << i;
   }
   auto t3 = Clock::now();
   auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
   RecordProperty("alloc_and_handle_ms", std::to_string(ms(t1 - t0)));
   RecordProperty("walk_ms", std::to_string(ms(t2 - t1)));
   RecordProperty("free_and_realloc_half_ms", std::to_string(ms(t3 - t2)));
   std::printf("100000 keys: alloc+handle %.1f ms, walk %.1f ms, free+realloc half %.1f ms\n",
               ms(t1 - t0), ms(t2 - t1), ms(t3 - t2));
}

}  // namespace
