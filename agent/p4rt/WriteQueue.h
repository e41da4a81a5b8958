#pragma once
// Writes carried out one after another on a thread of their own, in the order they came. The
// gRPC thread that parsed a Write hands it over and goes back to read and parse the next one,
// so that a client with two batches in flight has the second parsed while the first is applied.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace TwiceNatP4rt {

class WriteQueue {
 public:
   WriteQueue();
   // Carries out what is queued, then ends its thread.
   ~WriteQueue();
   WriteQueue(WriteQueue const&) = delete;
   WriteQueue& operator=(WriteQueue const&) = delete;

   void post(std::function<void()> work);

 private:
   void run();

   std::mutex mutex_;
   std::condition_variable posted_;
   std::deque<std::function<void()>> queue_;
   bool stopping_ = false;
   std::thread thread_;
};

}  // namespace TwiceNatP4rt
