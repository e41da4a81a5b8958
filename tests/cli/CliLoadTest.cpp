// load, diff and clear: export and import through both text forms on both back ends, delete and
// default lines, all-or-nothing and dry runs, and input that is no file of entries.
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using namespace std::chrono_literals;

void fill(CliState const& st) {
   st.ok(
       "set --dst 10.0.0.1 --src 192.168.1.1 --vrf 1 --action hit --key-id 1 --rw-id 2 --prot 6 "
       "--next-hop 7");
   st.ok("set --dst 10.0.0.2 --src 192.168.1.1 --vrf 2 --action ecmp --frag 1 --ecmp-group 3");
   st.ok("set --dst 10.0.0.3 --src 192.168.1.1 --action onMiss");
   st.ok("default set --action ecmp --key-id 9 --ecmp-group 4");
}

// Runs `line` with its standard input from `file`.
CliResult withInput(CliState const& st, std::string const& line, std::string const& file) {
   std::string command;
   for (std::string const& a : st.argv(line))
      command += "'" + a + "' ";
   return st.runArgs("stdin", {"sh", "-c", command + "< '" + file + "'"});
}

// show --text and show --json each load back into a cleared table, default included, on both
// back ends, through an agent and without one.
TEST(CliLoadTest, ExportClearImportRoundTrips) {
   for (std::string const profile : {"", "--no-bfrt"}) {
      for (bool served : {false, true}) {
         SCOPED_TRACE(profile + (served ? " served" : " one-shot"));
         CliState st;
         st.ok("chip create --capacity 64 " + profile);
         std::unique_ptr<Agent> agent = served ? std::make_unique<Agent>(st) : nullptr;
         fill(st);
         std::string const text = st.text(), shown = st.ok("show");
         std::string const textFile = st.file("export.txt", text);
         std::string const jsonFile = st.file("export.json", st.ok("show --json"));
         CliResult const refused = st.run("clear");
         EXPECT_EQ(refused.status, 2);
         EXPECT_THAT(refused.err, HasSubstr("the table holds 3 entries and a default action: "
                                            "'clear --yes' removes them all"));
         EXPECT_EQ(st.text(), text);
         for (std::string const& file : {textFile, jsonFile}) {
            EXPECT_EQ(st.ok("clear --yes"),
                      "cleared: 3 entries removed, default action reset to onMiss\n");
            EXPECT_EQ(st.text(), "");
            EXPECT_THAT(st.ok("load " + file),
                        HasSubstr(": 4 entries programmed (4 added, 0 changed)"));
            EXPECT_EQ(st.text(), text) << file;
         }
         EXPECT_EQ(st.ok("clear --yes"),
                   "cleared: 3 entries removed, default action reset to onMiss\n");
         CliResult const piped = withInput(st, "load -", jsonFile);
         EXPECT_EQ(piped.status, 0) << piped.err;
         EXPECT_THAT(piped.out, HasSubstr("stdin: 4 entries programmed"));
         EXPECT_EQ(st.text(), text);
         st.ok("clear --yes");
         EXPECT_EQ(st.ok("clear"), "cleared: 0 entries removed, no default action was set\n")
             << "nothing to ask about";
      }
   }
}

// Delete and default lines, the text form's default, a byte-order mark; bad lines reported by
// number (the first 20, then a count), leading zeros refused.
TEST(CliLoadTest, LinesAddDeleteAndSetTheDefault) {
   CliState st;
   st.ok("chip create --capacity 64");
   fill(st);
   std::string file =
       "\xEF\xBB\xBF"
       "10.0.0.4 192.168.1.1 4 hit 1 1 1 1 1\n"
       "- 10.0.0.1 192.168.1.1 1\n"
       "  -  10.0.0.2 192.168.1.1 2 ecmp 0 0 0 1 3\n"
       "- default\n"
       "default hit 5 5 5 5 5\n"
       "01.02.03.010 192.168.1.1 1 onMiss\n";
   for (int i = 0; i < 25; ++i)
      file += "junk " + std::to_string(i) + "\n";
   std::string const path = st.file("f", file);
   CliResult const r = st.run("load " + path);
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.out, HasSubstr(": 5 entries programmed (2 added, 0 changed, 3 removed) in "));
   EXPECT_THAT(r.out, HasSubstr("; 26 bad lines skipped"));
   EXPECT_THAT(
       r.err, HasSubstr(path + ":6: destination: '01.02.03.010' has a part with a leading zero\n"));
   EXPECT_EQ(lineCount(r.err), 21) << r.err;
   EXPECT_THAT(r.err, HasSubstr(path + ": 6 more bad or failed lines not shown\n"));
   std::string const shown = st.ok("show");
   EXPECT_THAT(shown, AllOf(Not(HasSubstr("10.0.0.1 ")), Not(HasSubstr("10.0.0.2 ")),
                            HasSubstr("10.0.0.4 "), HasSubstr("2 entries of 2")));
   EXPECT_THAT(shown, ContainsRegex("default .* hit +keyId=5 rwId=5 prot=5 frag=5 nextHop=5"));
}

// --atomic: the first failure rolls back everything the load did; while it runs, other writers
// are refused. --dry-run and diff change nothing and say what a load would do.
TEST(CliLoadTest, AtomicDryRunAndDiff) {
   CliState st;
   st.ok("chip create --capacity 64");
   Agent agent(st);
   fill(st);
   std::string const before = st.text();
   std::string const path = st.file("f",
                                    "10.0.0.5 1.1.1.1 - onMiss\n"
                                    "10.0.0.1 192.168.1.1 1 onMiss\n"
                                    "- 10.0.0.9 1.1.1.1 -\n");
   CliResult r = st.run("load --atomic " + path);
   EXPECT_EQ(r.status, 2);
   EXPECT_EQ(r.out, path +
                        ": nothing programmed: line 3 failed, and the load was rolled back "
                        "(--atomic)\n");
   EXPECT_THAT(r.err, HasSubstr(path + ":3: no entry dst 10.0.0.9 src 1.1.1.1 vrf 0 in the table"));
   EXPECT_EQ(st.text(), before);
   r = st.run("load --dry-run " + path);
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.out, HasSubstr(": 2 entries would be programmed (1 added, 1 changed); 1 bad line "
                                "skipped; nothing was changed (--dry-run)"));
   r = st.run("diff " + path);
   EXPECT_EQ(r.status, 2);
   EXPECT_EQ(
       r.out,
       "+ 10.0.0.5 1.1.1.1 - onMiss\n"
       "~ 10.0.0.1 192.168.1.1 1 onMiss   (was hit keyId=1 rwId=2 prot=6 frag=0 nextHop=7)\n" +
           path + ": 1 to add, 1 to change, 0 to remove, 0 unchanged; 1 bad line\n");
   EXPECT_EQ(st.text(), before);

   // An atomic load that waits for its input holds its batch open: a set meanwhile is refused.
   std::string const fifo = st.root() + "/fifo";
   ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
   TwiceNatTest::ChildProcess load(st.argv("load --atomic " + fifo), st.root() + "/atomic");
   std::ofstream feed(fifo);
   feed << "10.0.0.6 1.1.1.1 - onMiss\n" << std::flush;
   CliResult set;
   for (int i = 0; i < 100 && set.status != 1; ++i) {
      std::this_thread::sleep_for(20ms);
      set = st.run("set --dst 10.0.0.7 --src 1.1.1.1 --action onMiss");
   }
   EXPECT_EQ(set.status, 1);
   EXPECT_THAT(set.err, HasSubstr("an all-or-nothing batch of another client holds the table: "
                                  "try again when it ends"));
   feed.close();
   EXPECT_EQ(load.wait(), 0) << load.err();
   EXPECT_THAT(st.ok("show"), AllOf(HasSubstr("10.0.0.6"), Not(HasSubstr("10.0.0.7"))));
}

TEST(CliLoadTest, InputThatIsNoFileOfEntriesIsRefused) {
   CliState st;
   st.ok("chip create --capacity 64");
   std::string const fifo = st.root() + "/fifo";
   ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
   std::string const longLine =
       st.file("long", "10.0.0.1 1.1.1.1 - onMiss\n" + std::string(100000, 'x') +
                           "\n"
                           "10.0.0.2 1.1.1.1 - onMiss\n");
   for (auto const& [line, why] : std::vector<std::pair<std::string, std::string>>{
            {"load /dev/zero", "/dev/zero:1: no newline within 65536 bytes: not a file of entries"},
            {"--timeout 0.2 load " + fifo, "no writer opened the FIFO within 0.2 s (--timeout)"},
            {"diff /dev/zero", "no newline within 65536 bytes"},
            {"load " + st.root(), "it is a folder, not a file of entries"},
        }) {
      SCOPED_TRACE(line);
      CliResult const r = st.run(line);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err.rfind("twicenat: ", 0), 0u);
      EXPECT_THAT(r.err, HasSubstr(why));
      EXPECT_EQ(lineCount(r.err), 1);
   }
   // In a regular file a line too long to be an entry is one bad line.
   CliResult const r = st.run("load " + longLine);
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.err, HasSubstr(longLine + ":2: a line longer than 65536 bytes is no entry"));
   EXPECT_THAT(st.ok("show"), HasSubstr("2 entries of 2"));
}

}  // namespace
}  // namespace TwiceNatCliTest
