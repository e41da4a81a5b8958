#pragma once
// One client of the server: its socket, what it sent that is not yet answered, what it was
// sent that it has not yet taken, and the clocks that decide when it is cut off.
#include <chrono>
#include <memory>
#include <string>

#include "agent/service/LineService.h"
#include "agent/service/ServerLimits.h"

namespace TwiceNatService {

class Connection {
 public:
   using Clock = std::chrono::steady_clock;

   Connection(int fd, std::unique_ptr<LineService::Client> client, std::string name,
              ServerLimits const& limits, Clock::time_point now);
   ~Connection();  // closes the socket; an open batch of the client is rolled back
   Connection(Connection const&) = delete;
   Connection& operator=(Connection const&) = delete;

   int fd() const { return fd_; }
   std::string const& name() const { return name_; }

   // Takes what the socket holds, up to one chunk. False when the client is gone.
   bool receive(Clock::time_point now);
   // Sends what is pending, as much as the socket takes. False when the client is gone.
   bool send(Clock::time_point now);

   enum class Step { idle, served, tooLong };
   // One request answered, or one more page of a reply that goes on; tooLong when the client
   // sent more than a request may hold without ending it.
   Step step(Clock::time_point now);

   bool wantsInput() const;
   bool wantsOutput() const { return outAt_ < out_.size(); }
   // Reply bytes held: those pending, and those sent that the buffer has not yet let go.
   std::size_t buffered() const { return out_.size(); }
   bool hasWork() const;
   // Input ended and everything answered and sent: done with.
   bool finished() const { return inputEnded_ && !hasWork() && !wantsOutput(); }
   // Why the client must be cut off now; empty when it need not be. Starts a new window of
   // the output's deadline when the last one was kept.
   std::string overdue(Clock::time_point now);
   // Whether a deadline runs for it (the server then wakes to check).
   bool timed() const;
   // Queues `line` when nothing else is pending, so the client may read why it is dropped.
   void farewell(std::string const& line);

 private:
   bool completeRequest() const;
   void compactInput();

   int fd_;
   std::unique_ptr<LineService::Client> client_;
   std::string name_;
   ServerLimits const& limits_;
   std::string in_;
   std::size_t inAt_ = 0;             // start of the first request not yet answered
   mutable std::size_t scanned_ = 0;  // bytes of in_ known to hold no newline, from inAt_
   bool inputEnded_ = false;
   bool streaming_ = false;  // a reply goes on: more() when the client took what it has
   std::string out_;
   std::size_t outAt_ = 0;
   // Clocks: when the request being received began; when the pending output's current window
   // began and what was taken in it; when the client last did anything.
   Clock::time_point requestBegan_{};
   Clock::time_point windowBegan_{};
   std::size_t takenInWindow_ = 0;
   Clock::time_point lastActive_;
};

}  // namespace TwiceNatService
