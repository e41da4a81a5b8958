#include "agent/cli/RequestWorker.h"

namespace TwiceNatCli {

using TwiceNatService::Reply;
using TwiceNatService::Request;

RequestWorker::RequestWorker(Handle handle)
    : handle_(std::move(handle)), thread_([this] { run(); }) {}

RequestWorker::~RequestWorker() {
   {
      std::lock_guard<std::mutex> lock(m_);
      stopping_ = true;
      jobs_.clear();
   }
   cv_.notify_all();
   thread_.join();
}

void RequestWorker::submit(Request request) {
   Job job{std::move(request), {}};
   replies_.push_back(job.reply.get_future());
   {
      std::lock_guard<std::mutex> lock(m_);
      jobs_.push_back(std::move(job));
   }
   cv_.notify_all();
}

Reply RequestWorker::collect() {
   std::future<Reply> next = std::move(replies_.front());
   replies_.pop_front();
   return next.get();
}

void RequestWorker::drain() {
   std::unique_lock<std::mutex> lock(m_);
   cv_.wait(lock, [&] { return jobs_.empty() && !busy_; });
}

void RequestWorker::run() {
   std::unique_lock<std::mutex> lock(m_);
   for (;;) {
      cv_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      try {
         job.reply.set_value(handle_(job.request));
      } catch (...) {
         job.reply.set_exception(std::current_exception());
      }
      lock.lock();
      busy_ = false;
      cv_.notify_all();
   }
}

}  // namespace TwiceNatCli
