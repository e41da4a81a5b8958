// load FILE: bad lines are reported by line number and change nothing; the others apply.

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

}  // namespace
}  // namespace TwiceNatCliTest
