// What a person may type wrong: each case exits with its status and message, and leaves the
// chip and the key table as they were.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using ::testing::HasSubstr;

struct BadCase {
   std::vector<std::string> args;
   int status;
   char const* message;
};

// A chip with room for two entries, both used, and a default.
class CliBadInputTest : public ::testing::Test {
 protected:
   void SetUp() override {
      ASSERT_EQ(st.run({"chip", "create", "--capacity", "2"}).status, 0);
      ASSERT_EQ(st.run({"set", "--dst", "10.0.0.1", "--src", "10.0.0.2", "--vrf", "1", "--action",
                        "hit", "--next-hop", "4"})
                    .status,
                0);
      ASSERT_EQ(st.run({"set", "--dst", "10.0.0.3", "--src", "10.0.0.4", "--vrf", "1", "--action",
                        "onMiss"})
                    .status,
                0);
      ASSERT_EQ(st.run({"default", "set", "--action", "ecmp", "--ecmp-group", "2"}).status, 0);
   }

   // Runs every case and checks that nothing on the chip or in the key table changed.
   void expectRefused(std::vector<BadCase> const& cases) {
      std::string const text = st.text(), records = st.keyRecords(), table = st.run({"show"}).out;
      for (BadCase const& c : cases) {
         std::string what = ::testing::PrintToString(c.args);
         CliResult r = st.run(c.args);
         EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
         EXPECT_THAT(r.err, HasSubstr(c.message)) << what;
         EXPECT_EQ(r.out, "") << what;
         EXPECT_EQ(st.text(), text) << what;
         EXPECT_EQ(st.keyRecords(), records) << what;
      }
      EXPECT_EQ(st.run({"show"}).out, table);
   }

   CliState st;
};

std::vector<std::string> setArgs(std::vector<std::string> rest) {
   return std::vector<std::string>{"set", "--dst", "10.0.0.1", "--src", "10.0.0.2", "--vrf", "1"} +
          rest;
}

TEST_F(CliBadInputTest, EntryOptionsAreCheckedBeforeAnythingIsProgrammed) {
   expectRefused({
       {{"set", "--dst", "10.0.0", "--src", "1.1.1.1", "--action", "onMiss"},
        2,
        "--dst: '10.0.0' is not an IPv4 address A.B.C.D"},
       {{"set", "--dst", "10.0.0.300", "--src", "1.1.1.1", "--action", "onMiss"},
        2,
        "--dst: '10.0.0.300' has a part above 255"},
       {{"set", "--dst", "10.0.0.1", "--src", "1..1.1", "--action", "onMiss"},
        2,
        "--src: '1..1.1' is not an IPv4 address"},
       {{"set", "--dst", "10.0.0.1", "--action", "onMiss"}, 2, "missing --src A.B.C.D"},
       {setArgs({"--action", "jump"}), 2, "unknown action 'jump': use onMiss, hit or ecmp"},
       {setArgs({}), 2, "missing --action onMiss|hit|ecmp"},
       {setArgs({"--action", "hit"}), 2, "action hit needs --next-hop N"},
       {setArgs({"--action", "ecmp", "--next-hop", "1"}), 2,
        "--next-hop does not go with action ecmp"},
       {setArgs({"--action", "onMiss", "--key-id", "1"}), 2,
        "action onMiss takes no parameters, but --key-id was given"},
       {setArgs({"--action", "hit", "--next-hop", "65536"}), 2,
        "--next-hop: 65536 is out of range (0 to 65535)"},
       {setArgs({"--action", "hit", "--prot", "256", "--next-hop", "1"}), 2,
        "--prot: 256 is out of range (0 to 255)"},
       {setArgs({"--action", "hit", "--frag", "-1", "--next-hop", "1"}), 2,
        "--frag: '-1' is not a number"},
       {setArgs({"--action", "hit", "--key-id", "99999999999999999999", "--next-hop", "1"}), 2,
        "--key-id: 99999999999999999999 is out of range"},
       {{"set", "--dst", "10.0.0.1", "--src", "10.0.0.2", "--vrf", "65536", "--action", "onMiss"},
        2,
        "--vrf: 65536 is out of range (0 to 65535)"},
       {setArgs({"--action", "hit", "--next-hop"}), 2, "--next-hop needs a value"},
       {setArgs({"--action", "hit", "--next-hop", "1", "--colour", "red"}), 2,
        "unknown option --colour for 'set'"},
       {setArgs({"--action", "hit", "--action", "onMiss"}), 2, "--action given twice"},
       {{"set", "extra", "--dst", "1.1.1.1"}, 2, "'set' takes no arguments, got 1 argument(s)"},
   });
}

TEST_F(CliBadInputTest, CommandsThatCannotApplyAreRefused) {
   expectRefused({
       {{"del", "--dst", "10.0.0.9", "--src", "10.0.0.2", "--vrf", "1"},
        2,
        "no entry dst 10.0.0.9 src 10.0.0.2 vrf 1 in the table"},
       {{"del", "--dst", "10.0.0.1", "--src", "10.0.0.2", "--vrf", "2"},
        2,
        "no entry dst 10.0.0.1 src 10.0.0.2 vrf 2 in the table"},
       {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
       {{"chip", "explode"}, 2, "unknown command 'chip explode'"},
       {{"chip", "create"}, 2, "a chip already exists in"},
       {{"load"}, 2, "'load' takes FILE, got 0 argument(s)"},
       {{"load", "/nonexistent/entries"}, 2, "cannot read /nonexistent/entries"},
       {{"show", "--action", "drop"}, 2, "unknown action 'drop'"},
       {{"default", "set", "--action", "hit"}, 2, "action hit needs --next-hop N"},
   });
}

TEST_F(CliBadInputTest, AnSdkFailureExitsOneAndAppliesNothing) {
   // The chip is full: the add fails in the SDK, and the key allocated for it is freed again.
   expectRefused({
       {{"set", "--dst", "10.0.0.5", "--src", "10.0.0.6", "--vrf", "1", "--action", "onMiss"},
        1,
        "twicenat: SDK failure: twiceNatAddrOnly_tableEntryAdd() failed: Not enough space "
        "(BfTableFull, status 9)"},
   });
   // Changing an entry that is there still works on the full chip.
   CliResult r = st.run(setArgs({"--action", "ecmp", "--ecmp-group", "1"}));
   EXPECT_EQ(r.status, 0) << r.err;
}

TEST(CliStateTest, ChipLifecycleRefusals) {
   CliState st;
   struct Case {
      std::vector<std::string> args;
      int status;
      char const* message;
   } const cases[] = {
       {{"set", "--dst", "1.1.1.1", "--src", "2.2.2.2", "--action", "onMiss"}, 2, "no chip in "},
       {{"show"}, 2, "create one first with 'twicenat chip create'"},
       {{"chip", "show"}, 2, "no chip in "},
       {{"chip", "destroy"}, 2, "no chip in "},
       {{"chip", "create", "--pipes", "0"}, 2, "bad chip profile: "},
       {{"chip", "create", "--pipes", "17"}, 2, "--pipes: 17 is out of range (0 to 16)"},
       {{"chip", "create", "--capacity", "0"}, 2, "bad chip profile: "},
   };
   for (Case const& c : cases) {
      CliResult r = st.run(c.args);
      EXPECT_EQ(r.status, c.status) << c.args[0];
      EXPECT_THAT(r.err, HasSubstr(c.message)) << ::testing::PrintToString(c.args);
   }
   ASSERT_EQ(st.run({"chip", "create", "--no-vrf", "--no-bfrt"}).status, 0);
   CliResult r =
       st.run({"set", "--dst", "1.1.1.1", "--src", "2.2.2.2", "--vrf", "0", "--action", "onMiss"});
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.err,
               HasSubstr("this chip's table has no VRF key field: a VRF (0) cannot be given"));
   r = st.run({"show", "--vrf", "1"});
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.err, HasSubstr("has no VRF key field"));
   EXPECT_EQ(st.text(), "");
   r = st.run({"chip", "destroy"});
   EXPECT_EQ(r.status, 0);
   EXPECT_THAT(st.run({"show"}).err, HasSubstr("no chip in "));
}

}  // namespace
}  // namespace TwiceNatCliTest
