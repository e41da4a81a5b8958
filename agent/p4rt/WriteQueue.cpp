#include "agent/p4rt/WriteQueue.h"

namespace TwiceNatP4rt {

WriteQueue::WriteQueue() : thread_([this] { run(); }) {}

WriteQueue::~WriteQueue() {
   {
      std::lock_guard lock(mutex_);
      stopping_ = true;
   }
   posted_.notify_one();
   thread_.join();
}

void WriteQueue::post(std::function<void()> work) {
   {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(work));
   }
   posted_.notify_one();
}

void WriteQueue::run() {
   std::unique_lock lock(mutex_);
   for (;;) {
      posted_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      std::function<void()> work = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      work();
      lock.lock();
   }
}

}  // namespace TwiceNatP4rt
