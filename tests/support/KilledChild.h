#pragma once
// A child process armed to kill itself with SIGKILL just before its n-th store to persistent
// state, exactly where a kill -9 could land. The parent learns whether the child finished and
// how many operations it acknowledged before it died.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "Stow/CrashPoint.h"

namespace TwiceNatTest {

struct ChildEnd {
   bool finished = false;         // ran to its end: n is past its last store
   std::size_t acknowledged = 0;  // calls of `ack` before it ended
};

// `body` calls `ack` after each operation it completes. An exception out of it ends the child
// with status 3, which fails the calling test.
inline ChildEnd runKilledBefore(uint64_t n,
                                std::function<void(std::function<void()> const& ack)> const& body) {
   ChildEnd end;
   int ack[2];
   if (::pipe(ack) != 0) {
      ADD_FAILURE() << "pipe";
      return end;
   }
   pid_t const child = ::fork();
   if (child == 0) {
      ::close(ack[0]);
      Stow::crashAtIs(n);
      try {
         body([&] { (void)!::write(ack[1], "+", 1); });
      } catch (...) {
         ::_exit(3);
      }
      ::_exit(0);
   }
   ::close(ack[1]);
   char buf[64];
   for (ssize_t got; (got = ::read(ack[0], buf, sizeof buf)) > 0;)
      end.acknowledged += std::size_t(got);
   ::close(ack[0]);
   int status = 0;
   EXPECT_EQ(::waitpid(child, &status, 0), child);
   if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << "the child failed without a kill";
      end.finished = true;
   } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
   }
   return end;
}

}  // namespace TwiceNatTest
