#include "cli/CliRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

extern char** environ;

namespace TwiceNatCliTest {

namespace {

std::string slurp(std::string const& path) {
   std::ifstream in(path);
   std::stringstream s;
   s << in.rdbuf();
   return s.str();
}

}  // namespace

TempDir::TempDir() {
   char const* tmp = std::getenv("TMPDIR");
   std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/twicenat-cli-XXXXXX";
   if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
   path_ = pattern;
}

TempDir::~TempDir() {
   std::error_code ec;
   std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string const& name, std::string const& text) const {
   std::string p = path_ + "/" + name;
   std::ofstream(p) << text;
   return p;
}

CliResult runCli(std::vector<std::string> const& args) {
   TempDir io;
   std::string outPath = io.path() + "/out", errPath = io.path() + "/err";
   posix_spawn_file_actions_t fa;
   posix_spawn_file_actions_init(&fa);
   posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
   posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
   posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
   std::string bin = TWICENAT_BIN_DIR "/twicenat";
   std::vector<char*> argv{bin.data()};
   std::vector<std::string> copy = args;
   for (std::string& a : copy)
      argv.push_back(a.data());
   argv.push_back(nullptr);
   pid_t pid = 0;
   int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), environ);
   posix_spawn_file_actions_destroy(&fa);
   CliResult r;
   if (rc != 0) {
      r.err = "posix_spawn failed: " + std::string(std::strerror(rc));
      return r;
   }
   int ws = 0;
   while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
   }
   r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
   r.out = slurp(outPath);
   r.err = slurp(errPath);
   return r;
}

CliResult CliState::run(std::vector<std::string> args) const {
   args.insert(args.begin(), {"--state", state_});
   return runCli(args);
}

std::string CliState::text() const {
   CliResult r = run({"show", "--text"});
   EXPECT_EQ(r.status, 0) << r.err;
   return r.out;
}

std::string CliState::keyRecords() const {
   CliResult r = run({"chip", "show"});
   EXPECT_EQ(r.status, 0) << r.err;
   std::smatch m;
   std::regex re(R"(key table +\S+: (\d+) of)");
   return std::regex_search(r.out, m, re) ? m[1].str() : "?";
}

}  // namespace TwiceNatCliTest
