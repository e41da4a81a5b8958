#pragma once
// A program run as a child process: stdin /dev/null, stdout and stderr into FILES.out and
// FILES.err. It dies with the process that started it, and is killed when the object goes while
// it still runs.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace TwiceNatTest {

inline std::string slurp(std::string const& path) {
   std::ifstream in(path);
   return {std::istreambuf_iterator<char>(in), {}};
}

class ChildProcess {
 public:
   // `args[0]` is looked up on PATH when it holds no slash.
   ChildProcess(std::vector<std::string> const& args, std::string const& files)
       : out_(files + ".out"), err_(files + ".err") {
      std::vector<char*> argv;
      for (std::string const& s : args)
         argv.push_back(const_cast<char*>(s.c_str()));
      argv.push_back(nullptr);
      // Emptied before the fork: files reused from an earlier child never show its text to a
      // wait for this one's.
      int const out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      int const err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      pid_t const parent = ::getpid();
      pid_ = out < 0 || err < 0 ? -1 : ::fork();
      if (pid_ == 0) {
         ::prctl(PR_SET_PDEATHSIG, SIGKILL);
         if (::getppid() != parent) ::_exit(126);
         ::dup2(::open("/dev/null", O_RDONLY), 0);
         ::dup2(out, 1);
         ::dup2(err, 2);
         ::execvp(argv[0], argv.data());
         ::_exit(127);
      }
      for (int fd : {out, err})
         if (fd >= 0) ::close(fd);
      if (pid_ < 0) throw std::runtime_error("cannot start " + args.at(0));
   }
   ~ChildProcess() {
      signal(SIGKILL);
      wait();
   }
   ChildProcess(ChildProcess const&) = delete;
   ChildProcess& operator=(ChildProcess const&) = delete;

   pid_t pid() const { return pid_; }
   void signal(int sig) const {
      if (!done_) ::kill(pid_, sig);
   }
   // The exit status; -SIG when a signal ended it.
   int wait() {
      int ws = 0;
      while (!done_ && ::waitpid(pid_, &ws, 0) < 0 && errno == EINTR) {
      }
      return finish(ws);
   }
   // True once it ended; then wait() returns at once.
   bool ended() {
      int ws = 0;
      if (!done_ && ::waitpid(pid_, &ws, WNOHANG) != pid_) return false;
      finish(ws);
      return true;
   }
   std::string out() const { return slurp(out_); }
   std::string err() const { return slurp(err_); }
   // Waits until `text` shows in its output or error; false when it ends, or `seconds` pass,
   // first.
   bool awaitText(std::string const& text, int seconds = 60) {
      for (int i = 0; i < seconds * 200; ++i) {
         if (out().find(text) != std::string::npos || err().find(text) != std::string::npos)
            return true;
         if (ended()) return false;
         std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      return false;
   }
   // For a serve: until it is ready.
   bool ready(int seconds = 60) { return awaitText(" entries resynced in ", seconds); }

 private:
   int finish(int ws) {
      if (!done_) status_ = WIFEXITED(ws) ? WEXITSTATUS(ws) : -WTERMSIG(ws);
      done_ = true;
      return status_;
   }
   std::string out_, err_;
   pid_t pid_ = -1;
   bool done_ = false;
   int status_ = 0;
};

}  // namespace TwiceNatTest
