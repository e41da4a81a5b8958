// The demo's story and an agent start over a key table that names entries the chip lost.
#include <filesystem>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

int occurrences(std::string const& text, std::string const& what) {
   int n = 0;
   for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      ++n;
   }
   return n;
}

TEST(CliStoryTest, DemoTellsTheWholeStoryOnBothBackEnds) {
   CliResult r = runCli({"demo"});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_EQ(r.err, "");
   EXPECT_THAT(r.out, HasSubstr("table through the BfRt back end"));
   EXPECT_THAT(r.out, HasSubstr("table through the PD back end"));
   // Per back end: the resync finds what was programmed, the injected failure surfaces as the
   // table exception and changes nothing, and the clean-up leaves nothing behind.
   EXPECT_EQ(occurrences(r.out,
                         "the resync found 3 entries and the default; text form identical "
                         "to before the restart"),
             2);
   EXPECT_THAT(r.out, HasSubstr("exception: twiceNatAddrOnly_tableEntryAdd() failed: Not enough "
                                "space (BfTableFull, status 9)"));
   EXPECT_THAT(r.out, HasSubstr("exception: p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_"
                                "twiceNatAddrOnlyHit() failed: Not enough space (BfTableFull, "
                                "status 9)"));
   EXPECT_EQ(occurrences(r.out,
                         "after the failure: 3 entries on the chip, 4 key records (before: "
                         "3 entries on the chip, 4 key records), entries unchanged"),
             2);
   EXPECT_EQ(occurrences(r.out, "0 entries on the chip, 0 key records"), 2);
   EXPECT_THAT(r.out, Not(HasSubstr("DIFFERENT")));
   EXPECT_THAT(r.out, Not(HasSubstr("CHANGED")));
}

TEST(CliStoryTest, KeyRecordsOfLostEntriesAreReportedAndTheEntryCanBeAddedAgain) {
   CliState st, empty;
   for (CliState const* s : {&st, &empty}) {
      ASSERT_EQ(s->run({"chip", "create", "--capacity", "16", "--no-bfrt"}).status, 0);
   }
   std::vector<std::string> const key = {"--dst", "1.1.1.1", "--src", "2.2.2.2", "--vrf", "3"};
   ASSERT_EQ(st.run(std::vector<std::string>{"set"} + key +
                    std::vector<std::string>{"--action", "onMiss"})
                 .status,
             0);
   // The chip comes back empty while the key table still holds the entry's record.
   std::filesystem::copy_file(empty.dir() + "/chip", st.dir() + "/chip",
                              std::filesystem::copy_options::overwrite_existing);
   CliResult r = st.run({"show"});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("0 entries of 0"));
   EXPECT_THAT(r.out, HasSubstr("warning: 1 key record(s) name entries the chip no longer holds"));
   r = st.run(std::vector<std::string>{"del"} + key);
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.err, HasSubstr("no entry dst 1.1.1.1 src 2.2.2.2 vrf 3 in the table"));
   r = st.run(std::vector<std::string>{"set"} + key +
              std::vector<std::string>{"--action", "hit", "--next-hop", "2"});
   ASSERT_EQ(r.status, 0) << r.err;
   EXPECT_THAT(r.out, HasSubstr("added dst 1.1.1.1 src 2.2.2.2 vrf 3"));
   EXPECT_EQ(st.keyRecords(), "2");
   EXPECT_THAT(st.run({"show"}).out, HasSubstr("1 entry of 1"));
}

}  // namespace
}  // namespace TwiceNatCliTest
