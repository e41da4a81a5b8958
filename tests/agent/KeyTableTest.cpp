#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "ServiceTestSupport.h"
#include "agent/KeyTable.h"

namespace {

using testing::HasSubstr;
using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableError;
using TwiceNatAgentTest::TablePath;
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
      t->recordIs(Config(3, 7, 0x1234, 9, 42));
      t->recordIs(Config(8, 0, 5, 0, 1));
   }
   auto t = KeyTable::open(path.str());
   EXPECT_TRUE(t->count() == 2 && t->highestKey() == 8);
   Config c = t->record(3);
   EXPECT_EQ((std::vector<U64>{c.key, c.opId, c.sdkEntryHandle, c.flags, c.generation}),
             (std::vector<U64>{3, 7, 0x1234, 9, 42}));
   t->recordDel(3);
   EXPECT_TRUE(t->count() == 1 && !t->inUse(3));
}

TEST(KeyTable, MisuseIsRefused) {
   TablePath path;
   auto t = KeyTable::create(path.str(), 4);
   struct Case {
      std::function<void()> call;
      char const* expected;
   } const cases[] = {
       {[&] { KeyTable::create(path.str(), 4); }, "cannot create"},
       {[&] { KeyTable::open(path.str() + ".none"); }, "cannot open"},
       {[&] { t->recordIs(Config(0, 0, 0, 0, 0)); }, "key 0 is outside 1..4"},
       {[&] { t->record(2); }, "key 2 has no record"},
       {[&] { t->recordDel(3); }, "key 3 has no record"},
   };
   for (auto const& c : cases)
      EXPECT_THAT(errorOf(c.call), HasSubstr(c.expected));
}

}  // namespace
