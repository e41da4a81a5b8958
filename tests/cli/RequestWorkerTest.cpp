// A command's own core on a thread of its own: replies in submission order, a request's
// exception out of its own collect, and an end that finishes the request in hand and drops the
// rest without waiting for them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "agent/cli/RequestWorker.h"

namespace TwiceNatCli {
namespace {

using TwiceNatService::Op;
using TwiceNatService::Reply;
using TwiceNatService::Request;

Request numbered(U32 n) {
   Request q{Op::show};
   q.pageSize = n;
   return q;
}

TEST(RequestWorkerTest, RepliesComeInOrderAndAFailureStaysWithItsRequest) {
   RequestWorker worker([](Request const& q) {
      if (q.pageSize == 3) throw std::runtime_error("three");
      Reply r;
      r.batch.added = q.pageSize;
      return r;
   });
   for (U32 n = 1; n <= 6; ++n)
      worker.submit(numbered(n));
   EXPECT_EQ(worker.inFlight(), 6u);
   for (U32 n = 1; n <= 6; ++n) {
      if (n == 3) {
         EXPECT_THROW(worker.collect(), std::runtime_error);
      } else {
         EXPECT_EQ(worker.collect().batch.added, n);
      }
   }
   EXPECT_EQ(worker.inFlight(), 0u);
   worker.drain();
}

TEST(RequestWorkerTest, AnEndFinishesTheRequestInHandAndDropsTheRest) {
   std::atomic<int> started{0}, finished{0};
   {
      RequestWorker worker([&](Request const&) {
         ++started;
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
         ++finished;
         return Reply{};
      });
      for (U32 n = 0; n < 20; ++n)
         worker.submit(numbered(n));
      while (started == 0)
         std::this_thread::yield();
   }
   EXPECT_EQ(started.load(), finished.load());
   EXPECT_LT(finished.load(), 20);
}

}  // namespace
}  // namespace TwiceNatCli
