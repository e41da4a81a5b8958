#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "ServiceTestSupport.h"
#include "agent/KeyTable.h"

namespace {

using testing::HasSubstr;
using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableError;
using TwiceNatAgentTest::flipByte;
using TwiceNatAgentTest::TablePath;
using TwiceNatAgentTest::writeAt;
using Config = KeyTable::EntryConfig;

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
      EXPECT_TRUE(t->capacity() == 8 && t->count() == 0);
      t->recordIs(Config(3, 7, 0x1234, 9, 42));
      t->recordIs(Config(8, 0, 5, 0, 1));
      t->highestKeyIs(8);
   }
   auto t = KeyTable::open(path.str());
   EXPECT_TRUE(t->count() == 2 && t->highestKey() == 8);
   Config c = t->record(3);
   EXPECT_EQ((std::vector<U64>{c.key, c.opId, c.sdkEntryHandle, c.flags, c.generation}),
             (std::vector<U64>{3, 7, 0x1234, 9, 42}));
   EXPECT_EQ((std::vector<U64>{t->nextTakenSlot(0), t->nextTakenSlot(3), t->nextFreeSlot(2),
                               t->takenKeyBelow(8)}),
             (std::vector<U64>{2, 7, 3, 3}));
   t->recordDel(3);
   EXPECT_TRUE(t->count() == 1 && !t->inUse(3) && t->takenKeyBelow(8) == 0);
}

TEST(KeyTable, MisuseIsRefused) {
   TablePath path;
   auto t = KeyTable::create(path.str(), 4);
   struct Case {
      std::function<void()> call;
      char const* expected;
   } const cases[] = {
       {[&] { KeyTable::create(path.str(), 4); }, "cannot create"},
       {[&] { KeyTable::create(path.str() + ".z", 0); }, "capacity 0 is outside"},
       {[&] { KeyTable::create(path.str() + ".z", KeyTable::kMaxCapacity + 1); }, "is outside"},
       {[&] { KeyTable::open(path.str() + ".none"); }, "cannot open"},
       {[&] { t->recordIs(Config(0, 0, 0, 0, 0)); }, "key 0 is outside 1..4"},
       {[&] { t->record(5); }, "key 5 is outside 1..4"},
       {[&] { t->record(2); }, "key 2 has no record"},
       {[&] { t->recordDel(2); }, "key 2 has no record"},
       {[&] { t->highestKeyIs(5); }, "exceeds capacity 4"},
   };
   for (auto const& c : cases)
      EXPECT_THAT(errorOf(c.call), HasSubstr(c.expected));
   EXPECT_EQ(t->count(), 0u);
}

TEST(KeyTable, BadHeaderIsRefused) {
   // Header field offsets of the file format.
   constexpr std::size_t kVersionAt = 8, kRecordBytesAt = 16, kCapacityAt = 24, kHighestKeyAt = 32,
                         kCountAt = 40;
   auto cut = [](std::size_t size) {
      return [size](std::string const& p) { ASSERT_EQ(::truncate(p.c_str(), off_t(size)), 0); };
   };
   struct Case {
      std::function<void(std::string const&)> damage;
      char const* expected;
   } const cases[] = {
       {cut(40), "too short for a header"},
       {cut(0), "too short for a header"},
       {[](auto const& p) { flipByte(p, 3); }, "bad magic"},
       {[](auto const& p) { writeAt<U32>(p, kVersionAt, 2); }, "version 2"},
       {[](auto const& p) { writeAt<U32>(p, kRecordBytesAt, 48); }, "size does not match"},
       {[](auto const& p) { writeAt<U64>(p, kCapacityAt, 9); }, "header fails its check"},
       {cut(KeyTable::recordOffset(17)), "does not hold capacity 16"},
       {[](auto const& p) { writeAt<U64>(p, kCountAt, 17); }, "record count 17"},
       {[](auto const& p) { writeAt<U64>(p, kHighestKeyAt, 99); }, "highest-key mark 99"},
   };
   for (auto const& c : cases) {
      TablePath path;
      KeyTable::create(path.str(), 16)->recordIs(Config(1, 0, 0, 0, 0));
      c.damage(path.str());
      EXPECT_THAT(errorOf([&] { KeyTable::open(path.str()); }),
                  testing::AllOf(HasSubstr(path.str()), HasSubstr(c.expected)));
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
         EXPECT_EQ(t->slotState(slot), KeyTable::SlotState::damaged) << slot << " " << byte;
         flipByte(path.str(), KeyTable::recordOffset(slot) + byte);
         EXPECT_EQ(t->slotState(slot), was);
      }
   }
   flipByte(path.str(), KeyTable::recordOffset(1) + 9);
   try {
      t->record(2);
      ADD_FAILURE() << "damaged record read back";
   } catch (Pemra::CorruptionDetectedException const& e) {
      EXPECT_THAT(e.msg(), HasSubstr("slot 1 (key 2) fails its check"));
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
   EXPECT_TRUE(t->count() == 2 && t->highestKey() == 4 && t->record(4).sdkEntryHandle == 40);
   for (U64 slot = 0; slot < 10; ++slot)
      EXPECT_NE(t->slotState(slot), KeyTable::SlotState::damaged) << slot;
   EXPECT_TRUE(t->repair().empty());
}

}  // namespace
