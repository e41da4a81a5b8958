// What a person may type wrong (on the command line or in a file to load), and what the SDK may
// refuse: each case exits with its status and message, and leaves the chip and the key table as
// they were.
#include <sys/stat.h>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

struct BadCase {
   std::string line;
   std::string message;
   int status = 2;
};

// What the chip and the key table hold, or the errors when there is no chip.
std::string snapshot(CliState const& st) {
   CliResult const shown = st.run("show"), text = st.run("show --text"), chip = st.run("chip show");
   return shown.out + shown.err + text.out + chip.out;
}

void expectRefused(CliState const& st, std::vector<BadCase> const& cases) {
   std::string const before = snapshot(st);
   for (BadCase const& c : cases) {
      SCOPED_TRACE(c.line);
      CliResult r = st.run(c.line);
      EXPECT_EQ(r.status, c.status) << r.err;
      EXPECT_THAT(r.err, HasSubstr(c.message));
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(snapshot(st), before);
   }
}

std::string const kSet = "set --dst 10.0.0.1 --src 10.0.0.2 --vrf 1 ";

// A chip with room for two entries, both used, and a default.
TEST(CliBadInputTest, RefusedCommandsChangeNothing) {
   CliState st;
   st.ok("chip create --capacity 2");
   st.ok(kSet + "--action hit --next-hop 4");
   st.ok("set --dst 10.0.0.3 --src 10.0.0.4 --vrf 1 --action onMiss");
   st.ok("default set --action ecmp --ecmp-group 2");
   std::vector<BadCase> const cases = {
       {"set --dst 10.0.0 --src 1.1.1.1 --action onMiss",
        "--dst: '10.0.0' is not an IPv4 address A.B.C.D"},
       {"set --dst 10.0.0.300 --src 1.1.1.1 --action onMiss",
        "--dst: '10.0.0.300' has a part above 255"},
       {"set --dst 10.0.0.1 --action onMiss", "missing --src A.B.C.D"},
       {kSet + "--action jump", "unknown action 'jump': use onMiss, hit or ecmp"},
       {kSet, "missing --action onMiss|hit|ecmp"},
       {kSet + "--action hit", "action hit needs --next-hop N"},
       {kSet + "--action onMiss --key-id 1",
        "action onMiss takes no parameters, but --key-id was given"},
       {kSet + "--action hit --next-hop 65536", "--next-hop: 65536 is out of range (0 to 65535)"},
       {kSet + "--action hit --frag -1 --next-hop 1", "--frag: '-1' is not a number"},
       {"set --dst 10.0.0.1 --src 10.0.0.2 --vrf 65536 --action onMiss",
        "--vrf: 65536 is out of range (0 to 65535)"},
       {kSet + "--action hit --next-hop 1 --colour red", "unknown option '--colour' for 'set'"},
       {"del --dst 10.0.0.1 --src 10.0.0.2 --vrf 2",
        "no entry dst 10.0.0.1 src 10.0.0.2 vrf 2 in the table"},
       {"frobnicate", "unknown command 'frobnicate'"},
       {"chip create", "a chip already exists in"},
       {"load /nonexistent/entries", "cannot read /nonexistent/entries"},
       // The chip is full: the add fails in the SDK, and the key allocated for it is freed.
       {"set --dst 10.0.0.5 --src 10.0.0.6 --vrf 1 --action onMiss",
        "twicenat: SDK failure: twiceNatAddrOnly_tableEntryAdd() failed: Not enough space "
        "(BfTableFull, status 9)",
        1}};
   expectRefused(st, cases);
   // An agent refuses what would pull the state away, and passes the SDK's refusal on in the
   // same words (that its parse errors read as a run of its own's is the serve tests').
   Agent agent(st);
   std::string const busy = "an agent serves " + st.dir() + ": stop it first";
   expectRefused(st, {cases.back(),
                      {"chip create", busy},
                      {"chip destroy", busy},
                      {"serve", "an agent already serves " + st.dir() + " (pid " +
                                    std::to_string(agent.pid()) + ")"}});
   for (auto [path, mode] : {std::pair{st.dir() + "/agent.sock", 0600u}, {st.dir(), 0700u}}) {
      struct stat s {};
      ASSERT_EQ(::stat(path.c_str(), &s), 0);
      EXPECT_EQ(s.st_mode & 0777, mode) << path;
   }
   agent.signal(SIGTERM);
   EXPECT_EQ(agent.wait(), 0);
   EXPECT_FALSE(std::filesystem::exists(st.dir() + "/agent.sock"));
}

TEST(CliBadInputTest, ChipLifecycleRefusals) {
   CliState st;
   expectRefused(
       st, {{"show", "no chip in " + st.dir() + ": create one first with 'twicenat chip create'"},
            {"chip create --pipes 0", "bad chip profile: "},
            {"chip create --pipes 17", "--pipes: 17 is out of range (0 to 16)"}});
   st.ok("chip create --no-vrf --no-bfrt");
   expectRefused(st, {{"set --dst 1.1.1.1 --src 2.2.2.2 --vrf 0 --action onMiss",
                       "this chip's table has no VRF key field: a VRF (0) cannot be given"},
                      {"show --vrf 1", "has no VRF key field"}});
}

TEST(CliBadInputTest, CommandLineRefusals) {
   CliState st;
   std::string const file = st.file("plain", "");
   std::string const longWord(300, 'y');
   struct Case {
      Args args;
      std::string message;
   };
   for (Case const& c : std::vector<Case>{
            {{"--state=", "show"}, "twicenat: --state needs a folder name, not an empty one\n"},
            {{"--state", file, "show"},
             "twicenat: the state folder " + file + " is not a folder\n"},
            {{"--state", st.dir(), "set", "-x"},
             "twicenat: unknown option '-x' for 'set' (see 'twicenat set --help')\n"},
            {{"--state", st.dir(), "show", "--" + longWord},
             "twicenat: unknown option '--" + longWord.substr(0, 61) +
                 "...' for 'show' (see 'twicenat show --help')\n"},
            {{"--state", st.dir(), "chip", "create", "--pipes", "1\n2"},
             "twicenat: --pipes: '1\\n2' is not a number\n"},
            {{"--state", st.dir(), "load", st.root()},
             "twicenat: cannot load " + st.root() + ": it is a folder, not a file of entries\n"},
        }) {
      SCOPED_TRACE(c.message);
      Args args{TWICENAT_BIN_DIR "/twicenat"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      CliResult const r = st.runArgs("raw", args);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, c.message);
   }
}

// load FILE: bad lines are reported by line number and change nothing; the others apply.
TEST(CliLoadTest, BadLinesAreReportedByNumberAndChangeNothing) {
   CliState st, reference;
   st.ok("chip create --capacity 64");
   reference.ok("chip create --capacity 64");
   reference.ok(
       "set --dst 10.0.0.1 --src 192.168.1.1 --vrf 1 --action hit --key-id 1 --prot 6 "
       "--rw-id 2 --next-hop 7");
   std::string text = reference.text();
   std::string const hit = text.substr(0, text.size() - 1);
   auto edit = [&](char const* from, char const* to) {
      return std::regex_replace(hit, std::regex(from), to);
   };
   // The file's lines, each with its error; a good line has none.
   std::vector<std::pair<std::string, std::string>> const lines = {
       {"# entries for the test", ""},
       {"", ""},
       {hit, ""},
       {"10.0.0.2 192.168.1.1 1 ecmp 1 2 3 4 5", ""},
       {"10.0.0.3 192.168.1.1 - onMiss", ""},
       // Bad lines, each about an entry that exists or would be new.
       {"10.0.0.2 192.168.1.1 1 hit 1 2 3 4 65536", "next hop: 65536 is out of range"},
       {"10.0.0.4 192.168.1.1 1 hit 1 2 3 4", "action hit takes 9 columns, got 8"},
       {"10.0.0.4 192.168.1.1 70000 onMiss", "VRF: 70000 is out of range"},
       {"10.0.0.4 192.168.1.1 1 drop", "unknown action 'drop'"},
       {hit.substr(0, hit.size() - 2), "not a table entry: expected \"})\""},
       {edit("'prot': 6", "'prot': 256"), "not a table entry: attribute 'action.prot'"},
       {edit("'action': Object.*\\)\\}\\)$", "'action': None})"), "the entry has no action"},
       {"10.0.0.5 192.168.1.1 - hit 1 2 3 4 5", ""},
   };
   std::string file, good;
   for (auto const& [line, error] : lines) {
      file += line + "\n";
      if (error.empty()) good += line + "\n";
   }
   reference.ok("load", {reference.file("good", good)});

   std::string const path = st.file("entries", file);
   CliResult r = st.run("load", {path});
   EXPECT_EQ(r.status, 2);
   EXPECT_THAT(r.out, AllOf(HasSubstr(path + ": 4 entries programmed (4 added, 0 changed) in "),
                            HasSubstr("entries/s; 7 bad lines skipped")));
   for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string const where = path + ":" + std::to_string(i + 1) + ": ";
      SCOPED_TRACE(lines[i].first);
      auto const& error = lines[i].second;
      EXPECT_EQ(r.err.find(where + error) != std::string::npos, !error.empty()) << r.err;
   }
   // The chip and the key table hold exactly what the good lines alone make.
   EXPECT_EQ(st.text(), reference.text());
   EXPECT_EQ(st.keyRecords(), "4");
}

}  // namespace
}  // namespace TwiceNatCliTest
