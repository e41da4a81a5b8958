// Programming, showing and removing entries across agent restarts (each command is a new
// process), on a chip of either back end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Profile {
   char const* name;
   std::vector<std::string> createArgs;
   bool vrf;
   char const* backEnd;
};

void PrintTo(Profile const& p, std::ostream* os) {
   *os << p.name;
}

class CliEntryTest : public ::testing::TestWithParam<Profile> {
 protected:
   void SetUp() override {
      std::vector<std::string> args = {"chip", "create", "--capacity", "64"};
      args.insert(args.end(), GetParam().createArgs.begin(), GetParam().createArgs.end());
      CliResult r = st.run(args);
      ASSERT_EQ(r.status, 0) << r.err;
      ASSERT_THAT(r.out, HasSubstr(std::string("through the ") + GetParam().backEnd));
   }
   // The key options, with a VRF when the table has the field.
   std::vector<std::string> key(std::string dst, std::string src, std::string vrf = "1") {
      std::vector<std::string> k = {"--dst", dst, "--src", src};
      if (GetParam().vrf) k.insert(k.end(), {"--vrf", vrf});
      return k;
   }
   CliResult set(std::vector<std::string> keyArgs, std::vector<std::string> action) {
      std::vector<std::string> args = {"set"};
      args.insert(args.end(), keyArgs.begin(), keyArgs.end());
      args.insert(args.end(), action.begin(), action.end());
      return st.run(args);
   }
   static int lines(std::string const& s) { return int(std::count(s.begin(), s.end(), '\n')); }

   CliState st;
};

TEST_P(CliEntryTest, ProgramShowRestartAndDelete) {
   CliResult r =
       set(key("10.0.0.1", "192.168.1.1"), {"--action", "hit", "--key-id", "7", "--rw-id", "9",
                                            "--prot", "17", "--frag", "1", "--next-hop", "100"});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("added dst 10.0.0.1 src 192.168.1.1"));
   EXPECT_THAT(r.out, HasSubstr("(handle 0x10001)"));
   ASSERT_EQ(set(key("10.0.0.2", "192.168.1.1"), {"--action", "ecmp", "--ecmp-group", "3"}).status,
             0);
   ASSERT_EQ(set(key("10.0.0.3", "192.168.1.1", "2"), {"--action", "onMiss"}).status, 0);
   ASSERT_EQ(st.run({"default", "set", "--action", "hit", "--next-hop", "5"}).status, 0);

   // A new process finds every entry through the resync and reads it back from the chip.
   r = st.run({"show"});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("10.0.0.1        192.168.1.1     hit    keyId=7 rwId=9 prot=17 "
                                "frag=1 nextHop=100"));
   EXPECT_THAT(r.out, HasSubstr("0x10002"));
   EXPECT_THAT(r.out, HasSubstr("ecmp   keyId=0 rwId=0 prot=0 frag=0 ecmpGroup=3"));
   EXPECT_THAT(r.out, HasSubstr("10.0.0.3        192.168.1.1     onMiss"));
   EXPECT_THAT(r.out, HasSubstr("default    -     -               -               hit    "
                                "keyId=0 rwId=0 prot=0 frag=0 nextHop=5        resynced"));
   EXPECT_THAT(r.out, HasSubstr("3 entries of 3"));
   EXPECT_EQ(lines(st.text()), 3);
   EXPECT_EQ(st.keyRecords(), "4");

   // Changing a resynced entry modifies it in place: same handle, no new key.
   r = set(key("10.0.0.1", "192.168.1.1"), {"--action", "onMiss"});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("changed dst 10.0.0.1 src 192.168.1.1"));
   EXPECT_THAT(r.out, HasSubstr("(handle 0x10001)"));
   EXPECT_EQ(st.keyRecords(), "4");
   r = st.run({"show", "--dst", "10.0.0.1"});
   EXPECT_THAT(r.out, HasSubstr("0x10001    "));
   EXPECT_THAT(r.out, HasSubstr("onMiss"));
   EXPECT_THAT(r.out, HasSubstr("1 matching entry of 3"));

   // Deleting frees the entry's key; resetting the default frees the default's.
   r = st.run(std::vector<std::string>{"del"} + key("10.0.0.2", "192.168.1.1"));
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("deleted dst 10.0.0.2"));
   EXPECT_EQ(st.keyRecords(), "3");
   EXPECT_THAT(st.text(), Not(HasSubstr("167772162")));
   r = st.run({"default", "reset"});
   EXPECT_THAT(r.out, HasSubstr("reset to onMiss"));
   EXPECT_EQ(st.keyRecords(), "2");
   r = st.run({"chip", "show"});
   EXPECT_THAT(r.out, HasSubstr("used         2 of 64 entries"));
   EXPECT_THAT(r.out, HasSubstr("2 entries, default onMiss"));
   r = st.run({"default", "reset"});
   EXPECT_EQ(r.status, 0);
   EXPECT_THAT(r.out, HasSubstr("nothing to reset"));
}

TEST_P(CliEntryTest, ShowFiltersByKeyAndAction) {
   ASSERT_EQ(set(key("10.0.0.1", "1.1.1.1"), {"--action", "onMiss"}).status, 0);
   ASSERT_EQ(set(key("10.0.0.2", "1.1.1.1", "2"), {"--action", "hit", "--next-hop", "1"}).status,
             0);
   ASSERT_EQ(set(key("10.0.0.2", "2.2.2.2"), {"--action", "ecmp", "--ecmp-group", "1"}).status, 0);
   struct Case {
      std::vector<std::string> filter;
      int matching;
   } const cases[] = {
       {{"--dst", "10.0.0.2"}, 2},
       {{"--src", "1.1.1.1"}, 2},
       {{"--dst", "10.0.0.2", "--src", "2.2.2.2"}, 1},
       {{"--action", "ecmp"}, 1},
       {{"--action", "hit"}, 1},
       {{"--dst", "9.9.9.9"}, 0},
   };
   for (Case const& c : cases) {
      std::vector<std::string> args = std::vector<std::string>{"show"} + c.filter;
      CliResult r = st.run(args);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_THAT(r.out, HasSubstr(std::to_string(c.matching) + " matching entr")) << c.filter[1];
      args.push_back("--text");
      EXPECT_EQ(lines(st.run(args).out), c.matching) << c.filter[1];
   }
   if (GetParam().vrf) {
      EXPECT_THAT(st.run({"show", "--vrf", "2"}).out, HasSubstr("1 matching entry of 3"));
   }
}

TEST_P(CliEntryTest, TextFormLoadsBackIntoAnotherChip) {
   ASSERT_EQ(set(key("10.0.0.1", "1.1.1.1"), {"--action", "onMiss"}).status, 0);
   ASSERT_EQ(set(key("10.0.0.2", "1.1.1.1", "300"),
                 {"--action", "hit", "--key-id", "65535", "--prot", "255", "--next-hop", "1"})
                 .status,
             0);
   ASSERT_EQ(set(key("10.0.0.3", "1.1.1.1"), {"--action", "ecmp", "--ecmp-group", "65535"}).status,
             0);
   std::string text = st.text();
   CliState other;
   std::vector<std::string> args = {"chip", "create", "--capacity", "64"};
   args.insert(args.end(), GetParam().createArgs.begin(), GetParam().createArgs.end());
   ASSERT_EQ(other.run(args).status, 0);
   CliResult r = other.run({"load", other.tmp().file("entries", text)});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("3 entries programmed (3 added, 0 changed)"));
   EXPECT_EQ(other.text(), text);
   // Loading it again changes each entry in place.
   r = other.run({"load", other.tmp().path() + "/entries"});
   EXPECT_THAT(r.out, HasSubstr("3 entries programmed (0 added, 3 changed)"));
   EXPECT_EQ(other.text(), text);
   EXPECT_EQ(other.keyRecords(), "3");
}

TEST_P(CliEntryTest, TraceWritesTheLibrarysRecords) {
   ASSERT_EQ(set(key("10.0.0.1", "1.1.1.1"), {"--action", "onMiss"}).status, 0);
   CliResult quiet = st.run({"show"});
   EXPECT_THAT(quiet.err, Not(HasSubstr("entryByHandle")));
   CliResult traced = st.run({"--trace", "show"});
   ASSERT_EQ(traced.status, 0) << traced.err;
   EXPECT_THAT(traced.err, HasSubstr("BfTwiceNatAddrOnly"));
   EXPECT_THAT(traced.err, HasSubstr("entryByHandle"));
   EXPECT_EQ(traced.out, quiet.out);
}

INSTANTIATE_TEST_SUITE_P(
    BackEnds, CliEntryTest,
    ::testing::Values(Profile{"BfRt", {}, true, "BfRt"},
                      Profile{"PdWithoutVrf", {"--no-bfrt", "--no-vrf"}, false, "PD"},
                      Profile{"PdWithVrf", {"--no-bfrt", "--pipes", "2"}, true, "PD"}),
    [](auto const& info) { return std::string(info.param.name); });

TEST(CliHelp, EveryCommandDescribesItself) {
   std::vector<std::vector<std::string>> const commands = {
       {"chip", "create"}, {"chip", "destroy"},  {"chip", "show"}, {"set"},  {"del"},
       {"default", "set"}, {"default", "reset"}, {"show"},         {"load"}, {"demo"}};
   for (auto args : commands) {
      std::string name = args.size() == 1 ? args[0] : args[0] + " " + args[1];
      args.push_back("--help");
      CliResult r = runCli(args);
      EXPECT_EQ(r.status, 0) << name;
      EXPECT_THAT(r.out, HasSubstr("usage: twicenat [--state DIR] [--trace] " + name)) << name;
      EXPECT_THAT(runCli({"--help"}).out, HasSubstr("  " + name + " ")) << name;
   }
   CliResult none = runCli({});
   EXPECT_EQ(none.status, 2);
   EXPECT_THAT(none.err, HasSubstr("usage: twicenat"));
}

}  // namespace
}  // namespace TwiceNatCliTest
