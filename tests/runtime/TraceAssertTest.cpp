// Trace facilities, thresholds, records and sinks; the two assertion failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "Zin/Assert.h"
#include "Zin/Trace.h"

namespace {

struct Captured {
   int level;
   std::string facility, source, function, text;
   unsigned line;
};

// Routes records to a vector for the life of the test.
struct TraceCapture {
   TraceCapture() {
      Zin::traceSinkIs([this](Zin::TraceRecord const& r) {
         records.push_back({r.level, std::string(r.facility), std::string(r.source),
                            std::string(r.function), std::string(r.text), r.line});
      });
   }
   ~TraceCapture() { Zin::traceSinkIs(nullptr); }
   std::vector<Captured> records;
};

TEST(Trace, FacilityHandleIsMadeOncePerName) {
   Zin::TraceFacility& a = Zin::traceFacility("RtOnce");
   EXPECT_EQ(&Zin::traceFacility("RtOnce"), &a);
   EXPECT_NE(&Zin::traceFacility("RtOnceOther"), &a);
   EXPECT_EQ(a.name(), "RtOnce");
   EXPECT_EQ(a.threshold(), -1);  // not named in ZIN_TRACE: nothing is written
}

TEST(Trace, ThresholdsComeFromTheEnvironment) {
   ::setenv("ZIN_TRACE",
            "RtEnvA=3, RtEnvB = 9 ,RtEnvC=x,RtEnvD=12,RtEnvE=-1,RtEnvF=2,RtEnvF=5,RtEnvG=4x,"
            "RtEnvH,RtEnvI=",
            1);
   struct {
      char const* name;
      int threshold;
   } const cases[] = {{"RtEnvA", 3},  {"RtEnvB", 9}, {"RtEnvC", -1}, {"RtEnvD", 9},
                      {"RtEnvE", -1}, {"RtEnvF", 5}, {"RtEnvG", -1}, {"RtEnvH", -1},
                      {"RtEnvI", -1}, {"RtEnv", -1}, {"RtEnvAB", -1}};
   for (auto const& c : cases) {
      EXPECT_EQ(Zin::traceFacility(c.name).threshold(), c.threshold) << c.name;
   }
   ::unsetenv("ZIN_TRACE");
   Zin::TraceFacility& a = Zin::traceFacility("RtEnvA");
   for (int level = 0; level <= 9; ++level) {
      EXPECT_EQ(a.enabled(static_cast<U8>(level)), level <= 3) << level;
   }
}

TEST(Trace, LevelIsSetsAndClampsTheThreshold) {
   struct {
      int set, threshold;
   } const cases[] = {{5, 5}, {0, 0}, {-1, -1}, {-7, -1}, {9, 9}, {42, 9}};
   for (auto const& c : cases) {
      Zin::traceLevelIs("RtLevel", c.set);
      EXPECT_EQ(Zin::traceFacility("RtLevel").threshold(), c.threshold) << c.set;
   }
   Zin::traceLevelIs("RtLevel", 4);
   EXPECT_TRUE(Zin::traceFacility("RtLevel").enabled(4));
   EXPECT_FALSE(Zin::traceFacility("RtLevel").enabled(5));
}

TEST(Trace, RecordsCarryTheirFieldsAndSkipDisabledLevels) {
   TraceCapture capture;
   Zin::TraceFacility& f = Zin::traceFacility("RtRecords");
   Zin::traceLevelIs("RtRecords", 6);
   int evaluated = 0;
   auto text = [&evaluated](int n) {
      ++evaluated;
      return n;
   };
   ZIN_TRACE(f, 7, "src/Mod", "void Mod::f()", "skipped " << text(1));
   unsigned line = __LINE__ + 1;
   ZIN_TRACE(f, 6, "src/Mod", "void Mod::f()", "handle " << text(42) << " added");
   ZIN_TRACE(f, 0, "src/Other", "g", "");
   EXPECT_EQ(evaluated, 1);  // the disabled record's expression never ran
   ASSERT_EQ(capture.records.size(), 2u);
   Captured const& r = capture.records[0];
   EXPECT_EQ(r.level, 6);
   EXPECT_EQ(r.facility, "RtRecords");
   EXPECT_EQ(r.source, "src/Mod");
   EXPECT_EQ(r.line, line);
   EXPECT_EQ(r.function, "void Mod::f()");
   EXPECT_EQ(r.text, "handle 42 added");
   EXPECT_EQ(capture.records[1].level, 0);
   Zin::traceLevelIs("RtRecords", -1);
   ZIN_TRACE(f, 0, "src/Mod", "f", "off");
   EXPECT_EQ(capture.records.size(), 2u);
}

TEST(TraceDeathTest, DefaultSinkWritesALineToStderr) {
   EXPECT_EXIT(
       {
          Zin::traceLevelIs("RtStderr", 9);
          ZIN_TRACE(Zin::traceFacility("RtStderr"), 9, "src/Mod", "void Mod::f()", "n=" << 3);
          std::exit(0);
       },
       testing::ExitedWithCode(0), "\\[RtStderr:9\\] src/Mod:[0-9]+ void Mod::f\\(\\): n=3\n");
}

TEST(AssertDeathTest, AssertFailNamesExpressionSourceLineAndFunction) {
   EXPECT_DEATH(Zin::assertFail("match != NULL", "zin/Mod/Mod", 42, "void Mod::f(int)"),
                "zin/Mod/Mod:42: void Mod::f\\(int\\): Assertion `match != NULL' failed\\.");
   EXPECT_DEATH(ZIN_ASSERT(1 + 1 == 3, "pdLibPath", "zin/Mod/Mod", "int g()"),
                "zin/Mod/Mod:[0-9]+: int g\\(\\): Assertion `pdLibPath' failed\\.");
   ZIN_ASSERT(1 + 1 == 2, "never reported", "zin/Mod/Mod", "int g()");
}

TEST(AssertDeathTest, StrongAssertWritesTheDiagnosticThenFails) {
   EXPECT_DEATH(Zin::strongAssertFail("!mismatchedFields", " isSet: 1 fields: l3InfoVrfId",
                                      "zin/Mod/Mod", 7, "void Mod::h()"),
                "strong assertion !mismatchedFields failed: isSet: 1 fields: l3InfoVrfId\n"
                ".*zin/Mod/Mod:7: void Mod::h\\(\\): "
                "Assertion `\"!mismatchedFields\" == nullptr' failed\\.");
}

}  // namespace
