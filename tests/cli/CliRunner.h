#pragma once
// Runs the built twicenat as a separate process against a state folder of its own.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/ChildProcess.h"
#include "support/Scratch.h"

namespace TwiceNatCliTest {

using Args = std::vector<std::string>;
using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

struct CliResult {
   int status = -1;  // exit status; -1 when the process did not exit normally
   std::string out, err;
};

inline int lineCount(std::string const& s) {
   return int(std::count(s.begin(), s.end(), '\n'));
}

// A scratch folder of the test's own that holds the state folder.
class CliState {
 public:
   std::string dir() const { return path_ + "/state"; }
   std::string root() const { return path_; }
   // Writes `text` to a file in the folder and returns its path.
   std::string file(std::string const& name, std::string const& text) const {
      std::ofstream(path_ + "/" + name) << text;
      return path_ + "/" + name;
   }

   // twicenat --state DIR, the blank-separated words of `line`, then `more`.
   Args argv(std::string const& line, Args const& more = {}) const {
      std::istringstream words(line);
      Args args{TWICENAT_BIN_DIR "/twicenat", "--state", dir()};
      args.insert(args.end(), std::istream_iterator<std::string>(words), {});
      args.insert(args.end(), more.begin(), more.end());
      return args;
   }
   CliResult run(std::string const& line, Args const& more = {}) const {
      return runArgs("run", argv(line, more));
   }
   CliResult runArgs(std::string const& tag, Args const& args) const {
      TwiceNatTest::ChildProcess p(args, path_ + "/" + tag);
      int const status = p.wait();
      return {status < 0 ? -1 : status, p.out(), p.err()};
   }
   // Standard output of a command that must succeed.
   std::string ok(std::string const& line, Args const& more = {}) const {
      CliResult r = run(line, more);
      EXPECT_EQ(r.status, 0) << line << ": " << r.err;
      return r.out;
   }
   std::string text() const { return ok("show --text"); }
   // The key table's record count as 'chip show' reports it.
   std::string keyRecords() const {
      return nlohmann::json::parse(ok("chip show --json"))["keyTable"]["records"].dump();
   }

 private:
   std::string path_ = TwiceNatTest::scratchFolder("cli");
};

// A serve of the folder, ready to take requests (a failure of the test when it is not).
class Agent : public TwiceNatTest::ChildProcess {
 public:
   explicit Agent(CliState const& st) : ChildProcess(st.argv("serve"), st.root() + "/serve") {
      EXPECT_TRUE(ready()) << err();
   }
};

}  // namespace TwiceNatCliTest
