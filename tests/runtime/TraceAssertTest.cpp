// Trace facilities, thresholds, records and sinks. (The assertion lines are the table checks'.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Zin/Trace.h"

namespace {

TEST(Trace, FacilitiesAreMadeOnceAndTakeThresholdsFromTheEnvironment) {
   Zin::TraceFacility& a = Zin::traceFacility("RtOnce");
   EXPECT_EQ(&Zin::traceFacility("RtOnce"), &a);
   EXPECT_EQ(a.threshold(), -1);  // not named in ZIN_TRACE: nothing is written

   ::setenv("ZIN_TRACE",
            "RtEnvA=3, RtEnvB = 9 ,RtEnvC=x,RtEnvD=12,RtEnvE=-1,RtEnvF=2,RtEnvF=5,RtEnvG=4x,"
            "RtEnvH,RtEnvI=",
            1);
   std::string thresholds;
   for (char const* name : {"RtEnvA", "RtEnvB", "RtEnvC", "RtEnvD", "RtEnvE", "RtEnvF", "RtEnvG",
                            "RtEnvH", "RtEnvI", "RtEnv"})
      thresholds += std::to_string(Zin::traceFacility(name).threshold()) + " ";
   EXPECT_EQ(thresholds, "3 9 -1 9 -1 5 -1 -1 -1 -1 ");
   ::unsetenv("ZIN_TRACE");
   // (Setting a threshold through the interface, and what it lets through, are the paths walk's.)
}

// A record's fields as the default sink writes them. (A sink of one's own and the levels left
// out are the table paths test's.)
TEST(TraceDeathTest, DefaultSinkWritesALineToStderr) {
   unsigned const line = __LINE__ + 4;
   EXPECT_EXIT(
       {
          Zin::traceLevelIs("RtStderr", 9);
          ZIN_TRACE(Zin::traceFacility("RtStderr"), 9, "src/Mod", "void Mod::f()", "n=" << 3);
          std::exit(0);
       },
       testing::ExitedWithCode(0),
       "\\[RtStderr:9\\] src/Mod:" + std::to_string(line) + " void Mod::f\\(\\): n=3\n");
}

}  // namespace
