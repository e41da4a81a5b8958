#pragma once
// Runs the built twicenat as a separate process against a state folder of its own.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

// A fresh temporary folder, removed with its contents, that holds the state folder.
class CliState {
 public:
   CliState() {
      char const* tmp = std::getenv("TMPDIR");
      path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/twicenat-cli-XXXXXX";
      if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed for " + path_);
   }
   ~CliState() {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
   }
   CliState(CliState const&) = delete;
   CliState& operator=(CliState const&) = delete;
   std::string dir() const { return path_ + "/state"; }
   // Writes `text` to a file in the folder and returns its path.
   std::string file(std::string const& name, std::string const& text) const {
      std::ofstream(path_ + "/" + name) << text;
      return path_ + "/" + name;
   }

   std::string root() const { return path_; }

   // twicenat --state DIR, the blank-separated words of `line`, then `more`; stdin /dev/null.
   CliResult run(std::string const& line, Args const& more = {}) const {
      return runAs("", line, more);
   }
   // The same, with output files of its own (`tag`), for runs at the same time.
   CliResult runAs(std::string const& tag, std::string const& line, Args const& more = {}) const {
      std::string const out = path_ + "/out" + tag, err = path_ + "/err" + tag;
      std::string cmd = "</dev/null >";
      ((cmd += quoted(out)) += " 2>") += quoted(err);
      for (std::string const& a : argv(line, more))
         (cmd += ' ') += quoted(a);
      int const ws = std::system(cmd.c_str());
      return {WIFEXITED(ws) ? WEXITSTATUS(ws) : -1, slurp(out), slurp(err)};
   }
   Args argv(std::string const& line, Args const& more = {}) const {
      std::istringstream words(line);
      Args args{TWICENAT_BIN_DIR "/twicenat", "--state", dir()};
      args.insert(args.end(), std::istream_iterator<std::string>(words), {});
      args.insert(args.end(), more.begin(), more.end());
      return args;
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
      std::smatch m;
      std::string const shown = ok("chip show");
      return std::regex_search(shown, m, std::regex(R"(key table +\S+: (\d+) of)")) ? m[1].str()
                                                                                    : "?";
   }

 private:
   static std::string quoted(std::string const& s) {
      std::string q = "'";
      (q += std::regex_replace(s, std::regex("'"), "'\\''")) += '\'';
      return q;
   }

 public:
   static std::string slurp(std::string const& path) {
      std::ifstream in(path);
      return {std::istreambuf_iterator<char>(in), {}};
   }

 private:
   std::string path_;
};

// A twicenat run in the background (serve, or a command that is to wait): its output goes to
// files of its own in the state's temporary folder. Killed when still running at the end.
class Background {
 public:
   // `env`: NAME=VALUE settings of its own.
   Background(CliState const& st, std::string const& tag, std::string const& line,
              Args const& more = {}, Args env = {})
       : out_(st.root() + "/" + tag + ".out"), err_(st.root() + "/" + tag + ".err") {
      Args const args = st.argv(line, more);
      pid_ = ::fork();
      if (pid_ == 0) {
         int in = ::open("/dev/null", O_RDONLY);
         int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
         int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
         ::dup2(in, 0);
         ::dup2(out, 1);
         ::dup2(err, 2);
         for (std::string& e : env)
            ::putenv(e.data());
         std::vector<char*> a;
         for (std::string const& s : args)
            a.push_back(const_cast<char*>(s.c_str()));
         a.push_back(nullptr);
         ::execv(a[0], a.data());
         ::_exit(127);
      }
   }
   ~Background() {
      if (pid_ > 0 && status_ == kRunning) {
         ::kill(pid_, SIGKILL);
         wait();
      }
   }
   Background(Background const&) = delete;
   Background& operator=(Background const&) = delete;

   // Waits (up to 60 s) until `text` shows in its standard output or error; false if it ends
   // or the time runs out first.
   bool awaitText(std::string const& text) const {
      for (int i = 0; i < 6000; ++i) {
         if (out().find(text) != std::string::npos || err().find(text) != std::string::npos) {
            return true;
         }
         if (::waitpid(pid_, nullptr, WNOHANG) != 0) return false;
         std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return false;
   }
   // For a serve: until it is ready.
   bool ready() const { return awaitText(" entries resynced in "); }
   void signal(int sig) const { ::kill(pid_, sig); }
   // The exit status; -SIG when a signal ended it.
   int wait() {
      if (status_ != kRunning) return status_;
      int ws = 0;
      ::waitpid(pid_, &ws, 0);
      status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : -WTERMSIG(ws);
      return status_;
   }
   std::string out() const { return CliState::slurp(out_); }
   std::string err() const { return CliState::slurp(err_); }
   pid_t pid() const { return pid_; }

 private:
   static constexpr int kRunning = -1000;
   std::string out_, err_;
   pid_t pid_ = -1;
   int status_ = kRunning;
};

}  // namespace TwiceNatCliTest
