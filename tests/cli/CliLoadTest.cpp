// load FILE: bad lines are reported by line number and change nothing; the others apply.
#include <chrono>

#include "cli/CliRunner.h"

namespace TwiceNatCliTest {
namespace {

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

// Many entries: the load finishes, reports its rate, and a new agent start finds them all.
TEST(CliLoadTest, HundredThousandEntries) {
   CliState st;
   st.ok("chip create --capacity 131072");
   std::string file;
   char const* const actions[] = {"onMiss", "hit 1 2 6 0 7", "ecmp 3 4 17 1 9"};
   for (int i = 0; i < 100000; ++i) {
      file += "10." + std::to_string(i >> 16) + "." + std::to_string(i >> 8 & 255) + "." +
              std::to_string(i & 255) + " 192.168.0.1 " + std::to_string(i % 4096) + " " +
              actions[i % 3] + "\n";
   }
   auto const start = std::chrono::steady_clock::now();
   CliResult r = st.run("load", {st.file("entries", file)});
   std::chrono::duration<double> const took = std::chrono::steady_clock::now() - start;
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.err, "");  // no progress bar when stderr is not a terminal
   EXPECT_THAT(r.out, ContainsRegex(": 100000 entries programmed \\(100000 added, 0 changed\\) in "
                                    "[0-9.]+ s, [1-9][0-9]* entries/s"));
   std::cout << "[ load     ] " << r.out << "[ process  ] " << took.count() << " s in all\n";
   EXPECT_THAT(st.ok("chip show"), ContainsRegex("used +100000 of 131072 entries\n.*: 100000 of "
                                                 "131089 records, highest key 100000"));
   EXPECT_THAT(st.ok("show --dst 10.1.134.159"),
               ContainsRegex("1695  10.1.134.159    192.168.0.1     onMiss.*\n1 matching entry "
                             "of 100000"));
}

}  // namespace
}  // namespace TwiceNatCliTest
