#include <gtest/gtest.h>

#include "ServiceTestSupport.h"
#include "agent/StatusManager.h"

namespace {

using TwiceNatAgent::EntryState;
using TwiceNatAgent::StatusManager;
using TwiceNatAgentTest::TestMatch;

TEST(StatusManager, InitResyncDeleteAndHoldingByIdentity) {
   TestMatch::Ptr m[] = {TestMatch::testMatchIs(), TestMatch::testMatchIs()};
   {
      auto sm = StatusManager::statusManagerIs();
      // Status of both matches: state ('-' none, 'i' initial, 'r' resynced) and init count.
      auto states = [&] {
         std::string out;
         for (auto const& x : m) {
            auto s = sm->status(x.ptr());
            out +=
                !s ? "- "
                   : (s->state == EntryState::initial ? "i" : "r") + std::to_string(s->inits) + " ";
         }
         return out;
      };
      // op: 'i' initStatus(m[arg]), 'r' resyncStatus(), 'd' statusDel(m[arg]).
      struct Row {
         char op;
         int arg;
         char const* want;
      } const script[] = {
          {'i', 0, "i1 - "},  {'i', 0, "i2 - "},  {'i', 1, "i2 i1 "},
          {'r', 0, "r2 r1 "}, {'i', 1, "r2 i2 "}, {'r', 0, "r2 r2 "},
          {'d', 0, "- r2 "},  {'i', 0, "i1 r2 "}, {'d', 1, "i1 - "},
      };
      for (auto const& c : script) {
         if (c.op == 'i') sm->initStatus(m[c.arg]);
         if (c.op == 'r') sm->resyncStatus();
         if (c.op == 'd') {
            EXPECT_TRUE(sm->statusDel(m[c.arg].ptr()));
         }
         EXPECT_EQ(states(), c.want) << c.op << c.arg;
      }
      EXPECT_EQ(sm->resyncCount(), 2u);
      EXPECT_EQ(sm->size(), 1u);
      EXPECT_FALSE(sm->statusDel(m[1].ptr()));
      EXPECT_EQ(m[0]->references(), 2u);
      EXPECT_EQ(m[1]->references(), 1u);
      EXPECT_FALSE(sm->status(nullptr));
      EXPECT_THROW(sm->initStatus(nullptr), Zin::InternalException);
   }
   EXPECT_EQ(m[0]->references(), 1u) << "the manager releases what it holds";
}

}  // namespace
