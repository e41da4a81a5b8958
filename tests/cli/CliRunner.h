#pragma once
// Runs the built twicenat as a separate process, each test in its own state folder.
#include <string>
#include <vector>

namespace TwiceNatCliTest {

struct CliResult {
   int status = -1;  // exit status; -1 when the process did not exit normally
   std::string out;
   std::string err;
};

// A fresh temporary folder, removed with its contents.
class TempDir {
 public:
   TempDir();
   ~TempDir();
   TempDir(TempDir const&) = delete;
   TempDir& operator=(TempDir const&) = delete;
   std::string const& path() const { return path_; }
   // Writes `text` to a file in the folder and returns its path.
   std::string file(std::string const& name, std::string const& text) const;

 private:
   std::string path_;
};

// twicenat with `args`, stdin from /dev/null.
CliResult runCli(std::vector<std::string> const& args);

// A state folder and the commands run against it.
class CliState {
 public:
   CliState() = default;
   std::string const& dir() const { return state_; }
   CliResult run(std::vector<std::string> args) const;
   // `show --text` output; fails the test when the command fails.
   std::string text() const;
   // The key table's record count as 'chip show' reports it.
   std::string keyRecords() const;
   TempDir const& tmp() const { return tmp_; }

 private:
   TempDir tmp_;
   std::string state_ = tmp_.path() + "/state";
};

}  // namespace TwiceNatCliTest

namespace TwiceNatCliTest {

inline std::vector<std::string> operator+(std::vector<std::string> a,
                                          std::vector<std::string> const& b) {
   a.insert(a.end(), b.begin(), b.end());
   return a;
}

}  // namespace TwiceNatCliTest
