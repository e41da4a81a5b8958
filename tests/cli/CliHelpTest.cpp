// What the command line says of itself: every command's and group's help, the general help,
// the version, and the bash completion made from the same command table.
#include <regex>

#include "CliRunner.h"
#include "agent/cli/Commands.h"
#include "agent/cli/Help.h"

namespace TwiceNatCliTest {
namespace {

// Help text with its line breaks and indents as blanks: wrapping is not what is compared.
std::string words(std::string_view text) {
   return std::regex_replace(std::string(text), std::regex("\\s+"), " ");
}

TEST(CliHelpTest, EveryCommandAndGroupHasItsHelpBothWays) {
   CliState st;
   std::vector<std::string> topics;
   for (TwiceNatCli::Command const& c : TwiceNatCli::commands())
      topics.emplace_back(c.spec.name);
   for (std::string_view g : TwiceNatCli::commandGroups())
      topics.emplace_back(g);
   ASSERT_THAT(topics, ::testing::IsSupersetOf({"chip", "default"}));
   for (std::string const& topic : topics) {
      SCOPED_TRACE(topic);
      std::string const asked = st.ok(topic + " --help");
      EXPECT_EQ(st.ok("help " + topic), asked);
      EXPECT_THAT(asked, ::testing::StartsWith("usage: twicenat [--state DIR] [--trace] "));
      if (TwiceNatCli::Command const* c = TwiceNatCli::commandNamed(topic)) {
         EXPECT_THAT(words(asked), HasSubstr(words(c->spec.summary)));
         for (TwiceNatCli::OptionSpec const& o : c->spec.options)
            EXPECT_THAT(asked, HasSubstr("--" + std::string(o.name)));
      } else {
         for (TwiceNatCli::Command const& c : TwiceNatCli::commands()) {
            bool const member = std::string_view(c.spec.name).starts_with(topic + " ");
            EXPECT_EQ(asked.find("  " + std::string(c.spec.name) + " ") != std::string::npos,
                      member)
                << c.spec.name;
         }
      }
   }
   // A group alone is no command: its help, on stderr.
   CliResult const group = st.run("chip");
   EXPECT_EQ(group.status, 2);
   EXPECT_EQ(group.err, st.ok("chip --help"));
}

TEST(CliHelpTest, GeneralHelpListsEveryCommandOnce) {
   CliState st;
   std::string const help = st.ok("--help");
   EXPECT_EQ(st.ok("help"), help);
   std::size_t const from = help.find("commands:\n") + 10;
   std::string const list = help.substr(from, help.find("\n\n", from) + 1 - from);
   EXPECT_EQ(lineCount(list), int(TwiceNatCli::commands().size()));
   for (TwiceNatCli::Command const& c : TwiceNatCli::commands()) {
      EXPECT_THAT(list, ContainsRegex("(^|\n)  " + std::string(c.spec.name) + " +" +
                                      std::string(c.spec.brief.substr(0, 10))));
   }
   EXPECT_EQ(st.ok("--version"), "twicenat " + std::string(TwiceNatCli::version()) + "\n");
   EXPECT_THAT(std::string(TwiceNatCli::version()),
               ::testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+"));
}

TEST(CliHelpTest, HelpOfWhatIsNoCommandIsRefusedInOneLine) {
   CliState st;
   for (auto [line, says] : {std::pair{"help nosuch", "no command or group 'nosuch'"},
                             {"help chip nosuch", "no command or group 'chip nosuch'"},
                             {"help set --dst", "no command or group 'set --dst'"},
                             {"chip nosuch", "unknown command 'chip nosuch'"}}) {
      SCOPED_TRACE(line);
      CliResult const r = st.run(line);
      EXPECT_EQ(r.status, 2);
      EXPECT_THAT(r.err, HasSubstr(says));
      EXPECT_EQ(lineCount(r.err), 1);
      EXPECT_EQ(r.out, "");
   }
}

}  // namespace
}  // namespace TwiceNatCliTest
