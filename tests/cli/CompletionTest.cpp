// The bash completion that the build makes from the command table, run in bash as it completes
// a command line typed so far.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "CliRunner.h"

namespace TwiceNatCliTest {
namespace {

using Offers = std::set<std::string>;

// What bash offers for `line`, the cursor at its end. The words are split as bash splits them
// for a completion: at blanks, with '=' a word of its own; a line that ends in a blank is at
// the start of a new word.
Offers offered(CliState const& st, std::string const& line) {
   std::vector<std::string> words;
   std::istringstream blanks(line);
   for (std::string token; blanks >> token;) {
      for (std::size_t at = 0; at < token.size();) {
         std::size_t const eq = token.find('=', at);
         if (eq == std::string::npos) {
            words.push_back(token.substr(at));
            break;
         }
         if (eq > at) words.push_back(token.substr(at, eq - at));
         words.emplace_back("=");
         at = eq + 1;
      }
   }
   if (line.back() == ' ') words.emplace_back("");
   std::string script =
       "cd '" + st.root() + "' && source '" TWICENAT_COMPLETION "' && COMP_WORDS=(";
   for (std::string const& w : words)
      script += " '" + w + "'";
   script += " ); COMP_CWORD=" + std::to_string(words.size() - 1) +
             "; _twicenat; printf '%s\\n' \"${COMPREPLY[@]}\"";
   CliResult const r = st.runArgs("complete", {"bash", "-c", script});
   EXPECT_EQ(r.status, 0) << r.err;
   Offers offers;
   std::istringstream lines(r.out);
   for (std::string l; std::getline(lines, l);)
      if (!l.empty()) offers.insert(l);
   return offers;
}

TEST(CompletionTest, OffersWhatTheCommandTableSays) {
   CliState st;
   std::filesystem::create_directory(st.root() + "/states");
   std::ofstream(st.root() + "/entries.txt") << "\n";
   struct Case {
      Case(std::string line, Offers offers, Offers among = {}, Offers never = {})
          : line(std::move(line)),
            offers(std::move(offers)),
            among(std::move(among)),
            never(std::move(never)) {}
      std::string line;
      Offers offers;  // exactly these, when `among` is empty
      Offers among;   // these and maybe more
      Offers never;
   };
   for (Case const& c : std::vector<Case>{
            {"twicenat ch", {"chip"}},
            {"twicenat chip ", {"check", "create", "destroy", "repair", "show"}},
            {"twicenat default ", {"set", "reset"}},
            {"twicenat ",
             {},
             {"chip", "set", "del", "default", "show", "load", "serve", "help"},
             {"create", "reset"}},
            {"twicenat -", {}, {"--state", "--trace", "--no-wait", "--help", "--version"}},
            {"twicenat show --",
             {},
             {"--dst", "--src", "--vrf", "--action", "--text", "--json", "--state", "--help"}},
            {"twicenat load --", {}, {"--state", "--help"}, {"--text", "--json"}},
            {"twicenat status --j", {"--json"}},
            {"twicenat load ", {}, {"entries.txt", "states"}},
            {"twicenat --state ", {"states"}},
            {"twicenat --state=", {"states"}},
            {"twicenat --state=st", {"states"}},
            {"twicenat set --action ", {"onMiss", "hit", "ecmp"}},
            {"twicenat set --action=h", {"hit"}},
            {"twicenat show --action=", {"onMiss", "hit", "ecmp"}},
            {"twicenat serve --log-level=w", {"warning"}},
            {"twicenat set --dst ", {}},
            {"twicenat --state=states chip cr", {"create"}},
            {"twicenat --state states --no-wait show --j", {"--json"}},
            {"twicenat set --dst 10.0.0.1 --act", {"--action"}},
            {"twicenat help ", {}, {"chip", "set", "default", "serve"}},
            {"twicenat help chip ", {"check", "create", "destroy", "repair", "show"}},
        }) {
      SCOPED_TRACE(c.line);
      Offers const got = offered(st, c.line);
      if (c.among.empty()) {
         EXPECT_EQ(got, c.offers);
      } else {
         EXPECT_THAT(got, ::testing::IsSupersetOf(c.among));
      }
      for (std::string const& n : c.never)
         EXPECT_EQ(got.count(n), 0u) << n;
   }
}

}  // namespace
}  // namespace TwiceNatCliTest
