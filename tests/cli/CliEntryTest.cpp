// Programming, showing and removing entries across agent restarts (each command is a new
// process), on a chip of either back end; the demo's story; key records of entries the chip lost.
#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

struct Profile {
   char const* name;
   char const* create;
   bool vrf;
   char const* backEnd;
};

class CliEntryTest : public ::testing::TestWithParam<Profile> {
 protected:
   void SetUp() override {
      EXPECT_THAT(st.ok(std::string("chip create --capacity 64 ") + GetParam().create),
                  HasSubstr(std::string("through the ") + GetParam().backEnd));
   }
   // The key options, with a VRF when the table has the field.
   std::string key(std::string const& dst, std::string const& src, std::string vrf = "1") {
      return "--dst " + dst + " --src " + src + (GetParam().vrf ? " --vrf " + vrf : "");
   }
   std::string set(std::string const& key, std::string const& action) {
      return st.ok("set " + key + " --action " + action);
   }

   CliState st;
};

TEST_P(CliEntryTest, ProgramShowRestartAndDelete) {
   EXPECT_THAT(set(key("10.0.0.1", "192.168.1.1"),
                   "hit --key-id 7 --rw-id 9 --prot 17 --frag 1 --next-hop 100"),
               ContainsRegex("^added dst 10.0.0.1 src 192.168.1.1.*: hit .*\\(handle 0x10001\\)"));
   set(key("10.0.0.2", "192.168.1.1"), "ecmp --ecmp-group 3");
   set(key("10.0.0.3", "192.168.1.1", "2"), "onMiss");
   st.ok("default set --action hit --next-hop 5");

   // A new process finds every entry through the resync and reads it back from the chip.
   std::string const shown = st.ok("show");
   for (char const* row :
        {"10.0.0.1        192.168.1.1     hit    keyId=7 rwId=9 prot=17 frag=1 nextHop=100",
         "0x10002",
         "10.0.0.2        192.168.1.1     ecmp   keyId=0 rwId=0 prot=0 frag=0 ecmpGroup=3",
         "10.0.0.3        192.168.1.1     onMiss",
         "default    -     -               -               hit    keyId=0 rwId=0 prot=0 frag=0 "
         "nextHop=5        resynced",
         "\n3 entries of 3\n"}) {
      EXPECT_THAT(shown, HasSubstr(row));
   }
   EXPECT_EQ(lineCount(st.text()), 3);
   EXPECT_EQ(st.keyRecords(), "4");

   // Changing a resynced entry modifies it in place: same handle, no new key.
   EXPECT_THAT(set(key("10.0.0.1", "192.168.1.1"), "onMiss"),
               ContainsRegex("^changed dst 10.0.0.1 src 192.168.1.1.*\\(handle 0x10001\\)"));
   EXPECT_EQ(st.keyRecords(), "4");
   EXPECT_THAT(st.ok("show --dst 10.0.0.1"),
               ContainsRegex("\n0x10001 .* onMiss .*\n1 matching entry of 3\n"));

   // Deleting frees the entry's key; resetting the default frees the default's.
   EXPECT_THAT(st.ok("del " + key("10.0.0.2", "192.168.1.1")), HasSubstr("deleted dst 10.0.0.2"));
   EXPECT_EQ(st.keyRecords(), "3");
   EXPECT_THAT(st.text(), Not(HasSubstr("167772162")));
   EXPECT_THAT(st.ok("default reset"), HasSubstr("reset to onMiss"));
   EXPECT_EQ(st.keyRecords(), "2");
   EXPECT_THAT(st.ok("chip show"),
               ContainsRegex("used +2 of 64 entries\n.*2 entries, default onMiss"));
   EXPECT_THAT(st.ok("default reset"), HasSubstr("nothing to reset"));
}

TEST_P(CliEntryTest, ShowFiltersByKeyAndAction) {
   set(key("10.0.0.1", "1.1.1.1"), "onMiss");
   set(key("10.0.0.2", "1.1.1.1", "2"), "hit --next-hop 1");
   set(key("10.0.0.2", "2.2.2.2"), "ecmp --ecmp-group 1");
   std::vector<std::pair<std::string, int>> cases = {
       {"--dst 10.0.0.2", 2}, {"--src 1.1.1.1", 2}, {"--dst 10.0.0.2 --src 2.2.2.2", 1},
       {"--action ecmp", 1},  {"--action hit", 1},  {"--dst 9.9.9.9", 0}};
   if (GetParam().vrf) cases.push_back({"--vrf 2", 1});
   for (auto const& [filter, matching] : cases) {
      SCOPED_TRACE(filter);
      EXPECT_THAT(st.ok("show " + filter),
                  HasSubstr("\n" + std::to_string(matching) + " matching entr"));
      EXPECT_EQ(lineCount(st.ok("show --text " + filter)), matching);
   }
}

TEST_P(CliEntryTest, TextFormLoadsBackIntoAnotherChip) {
   set(key("10.0.0.1", "1.1.1.1"), "onMiss");
   set(key("10.0.0.2", "1.1.1.1", "300"), "hit --key-id 65535 --prot 255 --next-hop 1");
   set(key("10.0.0.3", "1.1.1.1"), "ecmp --ecmp-group 65535");
   std::string const text = st.text();
   CliState other;
   other.ok(std::string("chip create --capacity 64 ") + GetParam().create);
   std::string const file = other.file("entries", text);
   EXPECT_THAT(other.ok("load", {file}), HasSubstr("3 entries programmed (3 added, 0 changed)"));
   EXPECT_EQ(other.text(), text);
   // Loading it again changes each entry in place.
   EXPECT_THAT(other.ok("load", {file}), HasSubstr("3 entries programmed (0 added, 3 changed)"));
   EXPECT_EQ(other.text(), text);
   EXPECT_EQ(other.keyRecords(), "3");
}

TEST_P(CliEntryTest, TraceWritesTheLibrarysRecords) {
   set(key("10.0.0.1", "1.1.1.1"), "onMiss");
   CliResult const quiet = st.run("show"), traced = st.run("--trace show");
   EXPECT_THAT(quiet.err, Not(HasSubstr("entryByHandle")));
   EXPECT_EQ(traced.status, 0);
   EXPECT_THAT(traced.err, AllOf(HasSubstr("BfTwiceNatAddrOnly"), HasSubstr("entryByHandle")));
   EXPECT_EQ(traced.out, quiet.out);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, CliEntryTest,
                         ::testing::Values(Profile{"BfRt", "", true, "BfRt"},
                                           Profile{"PdWithoutVrf", "--no-bfrt --no-vrf", false,
                                                   "PD"},
                                           Profile{"PdWithVrf", "--no-bfrt --pipes 2", true, "PD"}),
                         [](auto const& info) { return std::string(info.param.name); });

TEST(CliHelp, EveryCommandDescribesItself) {
   CliState st;
   std::string const overview = st.ok("--help");
   for (std::string name : {"chip create", "chip destroy", "chip show", "set", "del", "default set",
                            "default reset", "show", "load", "demo"}) {
      EXPECT_THAT(st.ok(name + " --help"),
                  HasSubstr("usage: twicenat [--state DIR] [--trace] " + name));
      EXPECT_THAT(overview, HasSubstr("  " + name + " ")) << name;
   }
   CliResult none = st.run("");
   EXPECT_EQ(none.status, 2);
   EXPECT_THAT(none.err, HasSubstr("usage: twicenat"));
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
   // Per back end: the resync finds what was programmed, the injected failure surfaces as the
   // table exception and changes nothing, and the clean-up leaves nothing behind.
   for (char const* once :
        {"table through the BfRt back end", "table through the PD back end",
         "exception: twiceNatAddrOnly_tableEntryAdd() failed: Not enough space (BfTableFull, "
         "status 9)",
         "exception: p4_pd_tolvex_switch_twiceNatAddrOnly_table_add_with_twiceNatAddrOnlyHit() "
         "failed: Not enough space (BfTableFull, status 9)"}) {
      EXPECT_EQ(occurrences(r.out, once), 1) << once;
   }
   for (char const* twice :
        {"the resync found 3 entries and the default; text form identical to before the restart",
         "after the failure: 3 entries on the chip, 4 key records (before: 3 entries on the chip, "
         "4 key records), entries unchanged",
         "0 entries on the chip, 0 key records"}) {
      EXPECT_EQ(occurrences(r.out, twice), 2) << twice;
   }
   EXPECT_THAT(r.out, AllOf(Not(HasSubstr("DIFFERENT")), Not(HasSubstr("CHANGED"))));
}

TEST(CliStoryTest, KeyRecordsOfLostEntriesAreReportedAndTheEntryCanBeAddedAgain) {
   CliState st, empty;
   st.ok("chip create --capacity 16 --no-bfrt");
   empty.ok("chip create --capacity 16 --no-bfrt");
   std::string const key = "--dst 1.1.1.1 --src 2.2.2.2 --vrf 3";
   st.ok("set " + key + " --action onMiss");
   // The chip comes back empty while the key table still holds the entry's record.
   std::filesystem::copy_file(empty.dir() + "/chip", st.dir() + "/chip",
                              std::filesystem::copy_options::overwrite_existing);
   EXPECT_THAT(st.ok("show"), ContainsRegex("0 entries of 0.*warning: 1 key record\\(s\\) name "
                                            "entries the chip no longer holds"));
   CliResult r = st.run("del " + key);
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.err, HasSubstr("no entry dst 1.1.1.1 src 2.2.2.2 vrf 3 in the table"));
   EXPECT_THAT(st.ok("set " + key + " --action hit --next-hop 2"),
               HasSubstr("added dst 1.1.1.1 src 2.2.2.2 vrf 3"));
   EXPECT_EQ(st.keyRecords(), "2");
   EXPECT_THAT(st.ok("show"), HasSubstr("1 entry of 1"));
}

}  // namespace
}  // namespace TwiceNatCliTest
