// load FILE: bad lines are reported by line number and change nothing; the others apply.
#include <chrono>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kHitText[] =
    "Value('BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry', ** {'match': "
    "Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyMatchSpec', ** {'outerIpv4HdrDip': 167772161, "
    "'outerIpv4HdrSip': 3232235777, 'l3InfoVrfId': 1, 'isSet': 1, 'l3InfoVrfIdIsSet': True}), "
    "'action': Object('BfTwiceNatAddrOnly::TwiceNatAddrOnlyHitActionSpec', ** {'actionType': "
    "twiceNatAddrOnlyHitActionSpec, 'frag': 0, 'keyId': 1, 'prot': 6, 'rwId': 2, 'nextHop': "
    "7})})";

struct Line {
   std::string text;
   char const* error;  // null for a good line
};

TEST(CliLoadTest, BadLinesAreReportedByNumberAndChangeNothing) {
   std::string hit = kHitText;
   std::vector<Line> const lines = {
       {"# entries for the test", nullptr},
       {"", nullptr},
       {hit, nullptr},
       {"10.0.0.2 192.168.1.1 1 ecmp 1 2 3 4 5", nullptr},
       {"10.0.0.3 192.168.1.1 - onMiss", nullptr},
       {"   # an indented comment", nullptr},
       // Bad lines, each about an entry that exists or would be new.
       {"10.0.0.2 192.168.1.1 1 hit 1 2 3 4 65536", "next hop: 65536 is out of range"},
       {"10.0.0.2 192.168.1.1 1 hit 1 2 300 4 5", "protocol: 300 is out of range (0 to 255)"},
       {"10.0.0.4 192.168.1.1 1 hit 1 2 3 4", "action hit takes 9 columns, got 8"},
       {"10.0.0.4 192.168.1.1 1 onMiss 1", "action onMiss takes 4 columns, got 5"},
       {"10.0.0.4 192.168.1.1 70000 onMiss", "VRF: 70000 is out of range"},
       {"10.0.0.4 192.168.1.1 1 drop", "unknown action 'drop'"},
       {"10.0.0.4 192.168.1 1 onMiss", "source: '192.168.1' is not an IPv4 address"},
       {"10.0.0.4", "expected DST SRC VRF ACTION"},
       {hit.substr(0, hit.size() - 2), "not a table entry: expected \"})\""},
       {hit + " x", "not a table entry: "},
       {std::regex_replace(hit, std::regex("'prot': 6"), "'prot': 256"),
        "not a table entry: attribute 'action.prot'"},
       {std::regex_replace(hit, std::regex("'match': Object\\([^)]*\\)"), "'match': None"),
        "the entry has no match"},
       {std::regex_replace(hit, std::regex("'action': Object.*\\)\\}\\)$"), "'action': None})"),
        "the entry has no action"},
       {std::regex_replace(std::regex_replace(hit, std::regex(", 'nextHop': 7"), ""),
                           std::regex("HitActionSpec', \\*\\*"), "BaseActionSpec', **"),
        "the action's class does not fit its actionType"},
       {"10.0.0.5 192.168.1.1 - hit 1 2 3 4 5", nullptr},
   };
   std::string file, good;
   for (Line const& l : lines) {
      file += l.text + "\n";
      if (!l.error) good += l.text + "\n";
   }

   CliState st, reference;
   for (CliState const* s : {&st, &reference}) {
      ASSERT_EQ(s->run({"chip", "create", "--capacity", "64"}).status, 0);
   }
   CliResult ref = reference.run({"load", reference.tmp().file("good", good)});
   ASSERT_EQ(ref.status, 0) << ref.err;

   std::string path = st.tmp().file("entries", file);
   CliResult r = st.run({"load", path});
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.out, HasSubstr(path + ": 4 entries programmed (4 added, 0 changed) in "));
   EXPECT_THAT(r.out, HasSubstr("entries/s; 14 bad lines skipped"));
   for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string where = path + ":" + std::to_string(i + 1) + ": ";
      if (lines[i].error) {
         EXPECT_THAT(r.err, HasSubstr(where + lines[i].error)) << lines[i].text;
      } else {
         EXPECT_THAT(r.err, Not(HasSubstr(where))) << lines[i].text;
      }
   }
   // The chip and the key table hold exactly what the good lines alone make.
   EXPECT_EQ(st.text(), reference.text());
   EXPECT_EQ(st.keyRecords(), "4");
   EXPECT_THAT(st.run({"show", "--dst", "10.0.0.2"}).out,
               HasSubstr("ecmp   keyId=1 rwId=2 prot=3 frag=4 ecmpGroup=5"));
}

TEST(CliLoadTest, AnSdkFailureStopsTheLoadAndKeepsWhatWasProgrammed) {
   CliState st;
   ASSERT_EQ(st.run({"chip", "create", "--capacity", "2"}).status, 0);
   std::string path = st.tmp().file("entries",
                                    "1.0.0.1 2.0.0.1 0 onMiss\n"
                                    "1.0.0.2 2.0.0.1 0 onMiss\n"
                                    "1.0.0.3 2.0.0.1 0 onMiss\n"
                                    "1.0.0.4 2.0.0.1 0 onMiss\n");
   CliResult r = st.run({"load", path});
   EXPECT_EQ(r.status, 1);
   EXPECT_THAT(r.err, HasSubstr(path + ":3: twiceNatAddrOnly_tableEntryAdd() failed: Not enough "
                                       "space (BfTableFull, status 9)"));
   EXPECT_THAT(r.out, HasSubstr("2 entries programmed (2 added, 0 changed)"));
   EXPECT_THAT(r.out, HasSubstr("stopped at line 3 on a failure"));
   EXPECT_EQ(st.keyRecords(), "2");
}

// Many entries: the load finishes, reports its rate, and a new agent start finds them all.
TEST(CliLoadTest, HundredThousandEntries) {
   constexpr int kEntries = 100000;
   CliState st;
   ASSERT_EQ(st.run({"chip", "create", "--capacity", "131072"}).status, 0);
   std::string file;
   file.reserve(kEntries * 48);
   char const* const actions[] = {"onMiss", "hit 1 2 6 0 7", "ecmp 3 4 17 1 9"};
   for (int i = 0; i < kEntries; ++i) {
      file += "10." + std::to_string(i >> 16) + "." + std::to_string(i >> 8 & 255) + "." +
              std::to_string(i & 255) + " 192.168.0.1 " + std::to_string(i % 4096) + " " +
              actions[i % 3] + "\n";
   }
   auto start = std::chrono::steady_clock::now();
   CliResult r = st.run({"load", st.tmp().file("entries", file)});
   double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_EQ(r.err, "");  // no progress bar when stderr is not a terminal
   std::smatch m;
   ASSERT_TRUE(std::regex_search(
       r.out, m,
       std::regex(
           R"(100000 entries programmed \(100000 added, 0 changed\) in ([0-9.]+) s, (\d+) entries/s)")))
       << r.out;
   EXPECT_GT(std::stod(m[2].str()), 0);
   std::cout << "[ load     ] " << r.out << "[ process  ] " << secs << " s in all\n";
   r = st.run({"chip", "show"});
   EXPECT_THAT(r.out, HasSubstr("used         100000 of 131072 entries"));
   EXPECT_THAT(r.out, HasSubstr(": 100000 of 131089 records, highest key 100000"));
   r = st.run({"show", "--dst", "10.1.134.159"});
   EXPECT_THAT(r.out, HasSubstr("1695  10.1.134.159    192.168.0.1     onMiss"));
   EXPECT_THAT(r.out, HasSubstr("1 matching entry of 100000"));
}

}  // namespace
}  // namespace TwiceNatCliTest
