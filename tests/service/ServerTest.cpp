// The socket server's bounds: a client that stops reading, reads too slowly, floods, sends part
// of a request or sits on an open batch is cut off with a log line while another is answered
// throughout; requests past the size cap are refused; new clients wait at the cap.
#include <fcntl.h>

#include <atomic>
#include <functional>

#include "service/LineRig.h"

namespace TwiceNatServiceTest {
namespace {

ServerLimits tight() {
   ServerLimits l;
   l.maxClients = 8;
   l.maxRequestBytes = 65536;
   l.outputHigh = 65536;
   l.window = 300ms;
   l.minTakenPerWindow = 256 << 10;
   return l;
}

struct Hostile {
   std::string name;
   std::function<void(RawClient&, std::atomic<bool> const& done)> act;
   std::string cutFor;  // in the log line
};

void trickle(RawClient& c, std::atomic<bool> const& done) {
   c.send("stream 1000\n");
   while (!done) {
      c.take(32768);
      std::this_thread::sleep_for(50ms);
   }
}

void flood(RawClient& c, std::atomic<bool> const& done) {
   std::string const burst = [] {
      std::string b;
      for (int i = 0; i < 64; ++i)
         b += "echo " + std::string(1000, 'f') + "\n";
      return b;
   }();
   while (!done) {
      if (::send(c.fd(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
         std::this_thread::sleep_for(1ms);
      }
   }
}

TEST(ServerTest, HostileClientsAreCutOffWhileAnotherIsServed) {
   for (Hostile const &h : std::vector<Hostile>{
            {"stopped reader", [](RawClient&c, auto&) { c.send("stream 1000\n"); },
             "took nothing of its reply for 0.3 s"},
            // Reads that free too little for the socket to take more look the same as none.
            {"trickling reader", trickle, "took "},
            {"flooder", flood, "took nothing of its reply"},
            {"half a request", [](RawClient&c, auto&) { c.send("echo no end"); },
             "sent a part of a request and not its end within 0.3 s"},
            {"idle batch", [](RawClient&c, auto&) { c.send("hold\n"); },
             "held a batch open for 0.3 s without a request"},
        }) {
      SCOPED_TRACE(h.name);
      LineRig rig(tight());
      RawClient hostile(rig.path()), good(rig.path());
      std::atomic<bool> done = false;
      std::thread t([&] { h.act(hostile, done); });
      // Answered all along, before and after the cut.
      for (int i = 0; i < 100; ++i) {
         good.send("echo " + std::to_string(i) + "\n");
         ASSERT_EQ(good.line(), std::to_string(i));
         std::this_thread::sleep_for(10ms);
      }
      done = true;
      t.join();
      EXPECT_EQ(
          rig.logged("client 1 (pid " + std::to_string(::getpid()) + ") cut off: " + h.cutFor), 1)
          << testing::PrintToString(rig.log());
      EXPECT_EQ(rig.count("client 2"), 0);
   }
}

// Without the cap the server would wait for the line's end, and the client's receive would time
// out instead of reading the refusal.
TEST(ServerTest, RequestPastTheCapIsRefusedAndItsClientDropped) {
   LineRig rig(tight());
   RawClient c(rig.path());
   c.send(std::string(65536 + 1, 'x'));
   EXPECT_EQ(c.line(), "bye: request longer than 65536 bytes");
   EXPECT_EQ(c.line(), "<closed>");
   EXPECT_EQ(rig.logged("a request longer than 65536 bytes"), 1);
   // A request within the cap is taken whole.
   RawClient next(rig.path());
   next.send("echo " + std::string(65000, 'y') + "\n");
   EXPECT_EQ(next.line().size(), 65000u);
}

// A client that keeps taking a long reply: the connection holds about its bound, never what
// it sent before (the reply is 32 MiB).
TEST(ServerTest, AStreamedReplyHoldsNoMoreThanItsBound) {
   int pair[2];
   ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
   ServerLimits const limits = tight();
   auto const now = TwiceNatService::Connection::Clock::now();
   TwiceNatService::Connection c(pair[0], std::make_unique<LineServiceForTests::Lines>(), "c",
                                 limits, now);
   std::string const ask = "stream 2000\n";
   ASSERT_EQ(::send(pair[1], ask.data(), ask.size(), 0), ssize_t(ask.size()));
   ASSERT_TRUE(c.receive(now));
   std::size_t most = 0, taken = 0;
   std::vector<char> chunk(4096);  // less than a line: the buffer never empties
   while (taken < 2000 * 16385) {
      if (c.hasWork()) c.step(now);
      ASSERT_TRUE(c.send(now));
      most = std::max(most, c.buffered());
      ssize_t const n = ::recv(pair[1], chunk.data(), chunk.size(), MSG_DONTWAIT);
      if (n > 0) taken += std::size_t(n);
   }
   EXPECT_LE(most, 2 * limits.outputHigh + 16385);
   ::close(pair[1]);
}

TEST(ServerTest, PipelinedAndHalfClosedRequestsAreAnsweredInOrder) {
   LineRig rig(tight());
   RawClient c(rig.path());
   c.send("echo a\necho b\nstream 3\necho c\n");
   ::shutdown(c.fd(), SHUT_WR);
   EXPECT_EQ(c.line(), "a");
   EXPECT_EQ(c.line(), "b");
   for (int i = 0; i < 3; ++i)
      EXPECT_EQ(c.line(), std::string(16384, 'p'));
   EXPECT_EQ(c.line(), "c");
   EXPECT_EQ(c.line(), "<closed>");
}

// Past the cap, new clients wait in the listen queue (said once) and are served when one
// leaves.
TEST(ServerTest, NewClientsWaitAtTheCap) {
   ServerLimits limits = tight();
   limits.maxClients = 2;
   LineRig rig(limits);
   auto first = std::make_unique<RawClient>(rig.path());
   RawClient second(rig.path());
   for (RawClient* c : {first.get(), &second}) {
      c->send("echo in\n");
      EXPECT_EQ(c->line(), "in");
   }
   RawClient third(rig.path(), 400ms), fourth(rig.path(), 400ms);
   ASSERT_TRUE(third.connected());
   third.send("echo third\n");
   fourth.send("echo fourth\n");
   EXPECT_EQ(third.line(), "<timeout>");
   EXPECT_EQ(rig.logged("not accepting clients: at the cap of 2 clients"), 1);
   first.reset();
   EXPECT_EQ(third.line(), "third");
   EXPECT_EQ(rig.logged("accepting clients again"), 1);
   second.send("echo still\n");
   EXPECT_EQ(second.line(), "still");
   EXPECT_EQ(fourth.line(), "<timeout>") << "the cap holds again";
   EXPECT_EQ(rig.count("not accepting clients"), 2);
}

TEST(ServerTest, StopIsAnsweredBeforeTheServerEnds) {
   LineRig rig(tight());
   RawClient c(rig.path());
   c.send("stop\n");
   EXPECT_EQ(c.line(), "stopping");
   EXPECT_EQ(c.line(), "<closed>");
}

}  // namespace
}  // namespace TwiceNatServiceTest
