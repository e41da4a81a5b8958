#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ServiceTestSupport.h"
#include "agent/StatusManager.h"

namespace {

using TwiceNatAgent::EntryState;
using TwiceNatAgent::StatusManager;
using TwiceNatAgentTest::TestMatch;

TEST(StatusManager, InitResetAndResync) {
   auto sm = StatusManager::statusManagerIs();
   TestMatch::Ptr m[] = {TestMatch::testMatchIs(), TestMatch::testMatchIs()};
   // op: 'i' initStatus(m[arg]), 'r' resyncStatus(), 'd' statusDel(m[arg]); then the
   // expected status of both matches ('-' none, 'i' initial, 'r' resynced) and init counts.
   struct Case {
      char op;
      int arg;
      char state[3];
      U32 inits[2];
   } const script[] = {
       {'i', 0, "i-", {1, 0}}, {'i', 0, "i-", {2, 0}}, {'i', 1, "ii", {2, 1}},
       {'r', 0, "rr", {2, 1}}, {'i', 1, "ri", {2, 2}}, {'r', 0, "rr", {2, 2}},
       {'d', 0, "-r", {0, 2}}, {'i', 0, "ir", {1, 2}}, {'d', 1, "i-", {1, 0}},
   };
   int line = 0;
   for (auto const& c : script) {
      ++line;
      if (c.op == 'i') sm->initStatus(m[c.arg]);
      if (c.op == 'r') sm->resyncStatus();
      if (c.op == 'd') {
         EXPECT_TRUE(sm->statusDel(m[c.arg].ptr()));
      }
      for (int j = 0; j < 2; ++j) {
         auto s = sm->status(m[j].ptr());
         if (c.state[j] == '-') {
            EXPECT_FALSE(s) << "step " << line << " match " << j;
            continue;
         }
         ASSERT_TRUE(s) << "step " << line << " match " << j;
         EXPECT_EQ(s->state, c.state[j] == 'i' ? EntryState::initial : EntryState::resynced)
             << "step " << line << " match " << j;
         EXPECT_EQ(s->inits, c.inits[j]) << "step " << line << " match " << j;
      }
   }
   EXPECT_EQ(sm->resyncCount(), 2u);
   EXPECT_EQ(sm->size(), 1u);
   EXPECT_FALSE(sm->statusDel(m[1].ptr()));
}

TEST(StatusManager, HoldsAndReleasesMatchesByIdentity) {
   auto a = TestMatch::testMatchIs();
   auto b = TestMatch::testMatchIs();
   {
      auto sm = StatusManager::statusManagerIs();
      sm->initStatus(a);
      sm->initStatus(b);
      EXPECT_EQ(a->references(), 2u);
      EXPECT_EQ(sm->size(), 2u);
      EXPECT_FALSE(sm->status(nullptr));
      EXPECT_THROW(sm->initStatus(nullptr), Zin::InternalException);
      sm->statusDel(a.ptr());
      EXPECT_EQ(a->references(), 1u);
   }
   EXPECT_EQ(b->references(), 1u);
}

}  // namespace
