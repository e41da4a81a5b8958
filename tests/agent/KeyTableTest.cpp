#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "ServiceTestSupport.h"
#include "agent/KeyTable.h"

namespace {

using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableError;
using TwiceNatAgentTest::flipByte;
using TwiceNatAgentTest::TablePath;
using TwiceNatAgentTest::writeAt;
using Config = KeyTable::EntryConfig;

// Header field offsets of the file format.
constexpr std::size_t kMagicAt = 0, kVersionAt = 8, kRecordBytesAt = 16, kCapacityAt = 24,
                      kHighestKeyAt = 32, kCountAt = 40;

template <class F>
std::string errorOf(F&& f) {
   try {
      f();
   } catch (KeyTableError const& e) {
      return e.msg();
   }
   return "no error";
}

TEST(KeyTable, RecordsSurviveCloseAndReopen) {
   TablePath path;
   {
      auto t = KeyTable::create(path.str(), 8);
      EXPECT_EQ(t->capacity(), 8u);
      EXPECT_EQ(t->count(), 0u);
      t->recordIs(Config(3, 7, 0x1234, 9, 42));
      t->recordIs(Config(8, 0, 5, 0, 1));
      t->highestKeyIs(8);
   }
   auto t = KeyTable::open(path.str());
   EXPECT_EQ(t->count(), 2u);
   EXPECT_EQ(t->highestKey(), 8u);
   Config c = t->record(3);
   EXPECT_EQ(c.key, 3u);
   EXPECT_EQ(c.opId, 7u);
   EXPECT_EQ(c.sdkEntryHandle, 0x1234u);
   EXPECT_EQ(c.flags, 9u);
   EXPECT_EQ(c.generation, 42u);
   EXPECT_EQ(t->nextTakenSlot(0), 2u);
   EXPECT_EQ(t->nextTakenSlot(3), 7u);
   EXPECT_EQ(t->nextFreeSlot(2), 3u);
   EXPECT_EQ(t->takenKeyBelow(8), 3u);
   t->recordDel(3);
   EXPECT_EQ(t->count(), 1u);
   EXPECT_FALSE(t->inUse(3));
   EXPECT_EQ(t->takenKeyBelow(8), 0u);
}

TEST(KeyTable, MisuseIsRefused) {
   TablePath path;
   auto t = KeyTable::create(path.str(), 4);
   struct Case {
      char const* what;
      std::function<void()> call;
      char const* expected;
   } const cases[] = {
       {"create over an existing file", [&] { KeyTable::create(path.str(), 4); }, "cannot create"},
       {"capacity 0", [&] { KeyTable::create(path.str() + ".z", 0); }, "capacity 0 is outside"},
       {"capacity too large",
        [&] { KeyTable::create(path.str() + ".z", KeyTable::kMaxCapacity + 1); }, "is outside"},
       {"open of a missing file", [&] { KeyTable::open(path.str() + ".none"); }, "cannot open"},
       {"key 0", [&] { t->recordIs(Config(0, 0, 0, 0, 0)); }, "key 0 is outside 1..4"},
       {"key past capacity", [&] { t->record(5); }, "key 5 is outside 1..4"},
       {"record of a free key", [&] { t->record(2); }, "key 2 has no record"},
       {"clear of a free key", [&] { t->recordDel(2); }, "key 2 has no record"},
       {"mark past capacity", [&] { t->highestKeyIs(5); }, "exceeds capacity 4"},
   };
   for (auto const& c : cases) {
      EXPECT_THAT(errorOf(c.call), testing::HasSubstr(c.expected)) << c.what;
   }
   EXPECT_EQ(t->count(), 0u);
}

TEST(KeyTable, BadHeaderIsRefused) {
   struct Case {
      char const* what;
      std::function<void(std::string const&)> damage;
      char const* expected;
   } const cases[] = {
       {"short file", [](auto const& p) { ASSERT_EQ(::truncate(p.c_str(), 40), 0); },
        "too short for a header"},
       {"empty file", [](auto const& p) { ASSERT_EQ(::truncate(p.c_str(), 0), 0); },
        "too short for a header"},
       {"magic", [](auto const& p) { flipByte(p, kMagicAt + 3); }, "bad magic"},
       {"version", [](auto const& p) { writeAt<U32>(p, kVersionAt, 2); }, "version 2"},
       {"record size", [](auto const& p) { writeAt<U32>(p, kRecordBytesAt, 48); },
        "size does not match"},
       {"capacity", [](auto const& p) { writeAt<U64>(p, kCapacityAt, 9); },
        "header fails its check"},
       {"file grown",
        [&](auto const& p) { ASSERT_EQ(::truncate(p.c_str(), KeyTable::recordOffset(17)), 0); },
        "does not hold capacity 16"},
       {"count", [](auto const& p) { writeAt<U64>(p, kCountAt, 17); }, "record count 17"},
       {"highest key", [](auto const& p) { writeAt<U64>(p, kHighestKeyAt, 99); },
        "highest-key mark 99"},
   };
   for (auto const& c : cases) {
      TablePath path;
      KeyTable::create(path.str(), 16)->recordIs(Config(1, 0, 0, 0, 0));
      c.damage(path.str());
      EXPECT_THAT(errorOf([&] { KeyTable::open(path.str()); }),
                  testing::AllOf(testing::HasSubstr(path.str()), testing::HasSubstr(c.expected)))
          << c.what;
   }
}

TEST(KeyTable, EveryFlippedByteOfASlotIsDetected) {
   TablePath path;
   auto t = KeyTable::create(path.str(), 4);
   t->recordIs(Config(2, 1, 0xABCD, 3, 4));
   for (U64 slot : {U64(1), U64(2)}) {  // a used slot and a free one
      for (std::size_t byte = 0; byte < KeyTable::recordBytes(); ++byte) {
         auto const was = t->slotState(slot);
         flipByte(path.str(), KeyTable::recordOffset(slot) + byte);
         EXPECT_EQ(t->slotState(slot), KeyTable::SlotState::damaged)
             << "slot " << slot << " byte " << byte;
         flipByte(path.str(), KeyTable::recordOffset(slot) + byte);
         EXPECT_EQ(t->slotState(slot), was);
      }
   }
   flipByte(path.str(), KeyTable::recordOffset(1) + 9);
   try {
      t->record(2);
      ADD_FAILURE() << "damaged record read back";
   } catch (Pemra::CorruptionDetectedException const& e) {
      EXPECT_THAT(e.msg(), testing::HasSubstr("slot 1 (key 2) fails its check"));
   }
   EXPECT_THROW(t->recordIs(Config(2, 0, 0, 0, 0)), Pemra::CorruptionDetectedException);
}

TEST(KeyTable, RepairDropsDamagedSlotsAndRecounts) {
   TablePath path;
   auto t = KeyTable::create(path.str(), 10);
   for (U64 key : {1, 4, 6, 9})
      t->recordIs(Config(key, 0, U32(key * 10), 0, 0));
   t->highestKeyIs(9);
   flipByte(path.str(), KeyTable::recordOffset(5) + 4);  // key 6
   flipByte(path.str(), KeyTable::recordOffset(8));      // key 9
   flipByte(path.str(), KeyTable::recordOffset(2) + 7);  // a free slot, key 3
   EXPECT_EQ(t->repair(), (std::vector<U64>{2, 5, 8}));
   EXPECT_EQ(t->count(), 2u);
   EXPECT_EQ(t->highestKey(), 4u);
   EXPECT_EQ(t->record(4).sdkEntryHandle, 40u);
   for (U64 slot = 0; slot < 10; ++slot) {
      EXPECT_NE(t->slotState(slot), KeyTable::SlotState::damaged) << slot;
   }
   EXPECT_TRUE(t->repair().empty());
}

}  // namespace
