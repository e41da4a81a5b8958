// The load's progress bar, driven with a clock of the test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "agent/cli/ProgressBar.h"

namespace TwiceNatCliTest {
namespace {

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using TwiceNatCli::ProgressBar;

constexpr char kClear[] = "\r\x1b[K";

// What a terminal would show after `out`: the text of the line that the last clear started.
std::string lastDrawn(std::string const& out) {
   std::size_t const at = out.rfind(kClear);
   return at == std::string::npos ? "" : out.substr(at + 4);
}

TEST(ProgressBar, ShowsShareRateAndTimeLeft) {
   std::ostringstream out;
   ProgressBar bar(100000, out, true);
   ProgressBar::Clock::time_point const t0{};
   struct Step {
      std::size_t done;
      std::chrono::milliseconds at;
      char const* shows;
   };
   for (Step const& s : {Step{0, 0ms, "[............................]   0% 0/100000"},
                         Step{25000, 1000ms,
                              "[#######.....................]  25% 25000/100000 entries  "
                              "25000 entries/s  0:03 left"},
                         Step{50000, 1010ms, "25000 entries/s  0:03 left"},  // too soon: as was
                         Step{90000, 3000ms, " 90% 90000/100000 entries  30000 entries/s  0:00 left"}}) {
      SCOPED_TRACE(s.done);
      bar.update(s.done, t0 + s.at);
      EXPECT_THAT(lastDrawn(out.str()), HasSubstr(s.shows));
   }
   bar.update(100000, t0 + 3001ms);  // the end is drawn however soon it comes
   EXPECT_THAT(lastDrawn(out.str()), HasSubstr("100% 100000/100000"));
   bar.finish();
   EXPECT_THAT(out.str(), EndsWith(kClear));
}

// Messages go above the bar, which is drawn again under them and not erased in between.
TEST(ProgressBar, StaysDrawnUnderMessages) {
   std::ostringstream out;
   ProgressBar bar(4000, out, true);
   ProgressBar::Clock::time_point const t0{};
   bar.update(0, t0);
   bar.update(2000, t0 + 1s);
   std::string const drawn = lastDrawn(out.str());
   bar.print("f:3: unknown action 'hop'\n");
   EXPECT_THAT(out.str(), EndsWith("f:3: unknown action 'hop'\n" + drawn));
   bar.print("");
   EXPECT_THAT(out.str(), EndsWith(drawn));
}

TEST(ProgressBar, WithoutATerminalOnlyMessagesArePrinted) {
   std::ostringstream out;
   ProgressBar bar(10, out, false);
   bar.update(0);
   bar.print("f:1: bad\n");
   bar.update(10);
   bar.finish();
   EXPECT_EQ(out.str(), "f:1: bad\n");
   EXPECT_THAT(out.str(), Not(HasSubstr(kClear)));
}

}  // namespace
}  // namespace TwiceNatCliTest
