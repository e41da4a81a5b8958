// Programming, showing and removing entries across agent restarts, and the demo's story.
#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

// Each command a process of its own, on a chip of the default profile (the demo runs both back
// ends in one process).
TEST(CliEntryTest, ProgramShowRestartAndDelete) {
   CliState st;
   EXPECT_THAT(st.ok("chip create --capacity 64"), HasSubstr("through the BfRt"));
   std::string const key1 = "--dst 10.0.0.1 --src 192.168.1.1 --vrf 1";
   EXPECT_THAT(st.ok("set " + key1 +
                     " --action hit --key-id 7 --rw-id 9 --prot 17 --frag 1 "
                     "--next-hop 100"),
               ContainsRegex("^added dst 10.0.0.1 src 192.168.1.1.*: hit .*\\(handle 0x10001\\)"));
   st.ok("set --dst 10.0.0.2 --src 192.168.1.1 --vrf 1 --action ecmp --ecmp-group 3");
   st.ok("set --dst 10.0.0.3 --src 192.168.1.1 --vrf 2 --action onMiss");
   st.ok("default set --action hit --next-hop 5");

   // A new process finds every entry through the resync and reads it back from the chip.
   std::string const shown = st.ok("show");
   for (char const* row :
        {"10.0.0.1        192.168.1.1     hit    keyId=7 rwId=9 prot=17 frag=1 nextHop=100",
         "10.0.0.2        192.168.1.1     ecmp   keyId=0 rwId=0 prot=0 frag=0 ecmpGroup=3",
         "10.0.0.3        192.168.1.1     onMiss",
         "default    -     -               -               hit    keyId=0 rwId=0 prot=0 frag=0 "
         "nextHop=5                   resynced",
         "\n3 entries of 3\n"}) {
      EXPECT_THAT(shown, HasSubstr(row));
   }
   // The text form ends with the default, as the load that reads it back sets it.
   EXPECT_EQ(lineCount(st.text()), 4);
   EXPECT_THAT(st.text(), ContainsRegex("\n[^\n]*'match': None[^\n]*nextHop': 5\\}\\)\\}\\)\n$"));
   EXPECT_EQ(st.keyRecords(), "4");

   // Changing a resynced entry modifies it in place: same handle.
   EXPECT_THAT(st.ok("set " + key1 + " --action onMiss"),
               ContainsRegex("^changed dst 10.0.0.1 src 192.168.1.1.*\\(handle 0x10001\\)"));
   EXPECT_THAT(st.ok("show --dst 10.0.0.1"),
               ContainsRegex("\n0x10001 .* onMiss .*\n1 matching entry of 3\n"));
   EXPECT_THAT(st.ok("del --dst 10.0.0.2 --src 192.168.1.1 --vrf 1"),
               HasSubstr("deleted dst 10.0.0.2"));
   EXPECT_THAT(st.ok("default reset"), HasSubstr("reset to onMiss"));
   EXPECT_THAT(st.ok("chip show"),
               ContainsRegex("used +2 of 64 entries\n.*2 entries, default onMiss"));
   EXPECT_EQ(st.keyRecords(), "2") << "the deleted entry's and the default's keys are free";
}

int occurrences(std::string const& text, std::string const& what) {
   int n = 0;
   for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
   return n;
}

TEST(CliStoryTest, DemoTellsTheWholeStoryOnBothBackEnds) {
   CliResult r = CliState().run("demo");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.err, "");
   // Per back end: the resync finds what was programmed, the add into the full table surfaces
   // as the table exception and changes nothing, and the clean-up leaves nothing behind.
   for (char const* once :
        {"table through the BfRt back end", "table through the PD back end",
         "exception: twiceNatAddrOnly_tableEntryAdd() failed: Not enough space (BfTableFull, "
         "status 9)",
         "exception: p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit() "
         "failed: Not enough space (BfTableFull, status 9)"}) {
      EXPECT_EQ(occurrences(r.out, once), 1) << once;
   }
   // The story checks itself: the text form after the restart and after the failure.
   for (char const* twice : {"text form identical to before the restart", "entries unchanged",
                             "0 entries on the chip, 0 key records"})
      EXPECT_EQ(occurrences(r.out, twice), 2) << twice;
}

}  // namespace
}  // namespace TwiceNatCliTest
