#pragma once
// A command's own core, run on a thread of its own: requests are handled in the order they were
// submitted while the command goes on (a load reads and parses its next lines while the core
// programs the last ones, as it does beside an agent over its socket). Replies are collected in
// that order; a request's exception comes out of its collect.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "agent/service/Messages.h"

namespace TwiceNatCli {

class RequestWorker {
 public:
   using Handle = std::function<TwiceNatService::Reply(TwiceNatService::Request const&)>;

   explicit RequestWorker(Handle handle);
   // The request being handled finishes; those not yet begun are dropped, as an agent drops
   // the requests of a connection that ends.
   ~RequestWorker();
   RequestWorker(RequestWorker const&) = delete;
   RequestWorker& operator=(RequestWorker const&) = delete;

   void submit(TwiceNatService::Request request);
   TwiceNatService::Reply collect();
   std::size_t inFlight() const { return replies_.size(); }
   // Returns once every request submitted has been handled.
   void drain();

 private:
   struct Job {
      TwiceNatService::Request request;
      std::promise<TwiceNatService::Reply> reply;
   };
   void run();

   Handle handle_;
   std::deque<std::future<TwiceNatService::Reply>> replies_;  // the command's side only
   std::mutex m_;
   std::condition_variable cv_;
   std::deque<Job> jobs_;
   bool busy_ = false;
   bool stopping_ = false;
   std::thread thread_;  // last: starts once the rest is made
};

}  // namespace TwiceNatCli
