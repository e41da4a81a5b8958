#pragma once
// A socket server on a thread of the test, serving a small line service, and raw clients with
// a receive timeout: the server's bounds without a chip behind them.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/service/Server.h"
#include "support/Scratch.h"

namespace TwiceNatServiceTest {

using namespace std::chrono_literals;
using TwiceNatService::LineService;
using TwiceNatService::ServerLimits;

// "echo X" answers "X"; "stream N" answers N lines of 16 KiB, made one at a time as the client
// takes them; "hold" holds a batch open until "release"; "stop" stops the server.
class LineServiceForTests final : public LineService {
 public:
   class Lines final : public Client {
    public:
      bool request(std::string_view line, std::string& out) override {
         if (line.substr(0, 5) == "echo ") (out += line.substr(5)) += '\n';
         if (line.substr(0, 7) == "stream ") {
            left_ = std::stoi(std::string(line.substr(7)));
            return more(out);
         }
         if (line == "hold" || line == "release") {
            held_ = line == "hold";
            out += "ok\n";
         }
         if (line == "stop") {
            stop = true;
            out += "stopping\n";
         }
         return false;
      }
      bool more(std::string& out) override {
         if (left_ <= 0) return false;
         (out += std::string(16384, 'p')) += '\n';
         return --left_ > 0;
      }
      bool holdsOthersBack() const override { return held_; }
      static inline std::atomic<bool> stop = false;

    private:
      int left_ = 0;
      bool held_ = false;
   };

   std::unique_ptr<Client> connected() override { return std::make_unique<Lines>(); }
   std::string farewell(std::string const& why, bool) override { return "bye: " + why + "\n"; }
   void clientsAre(std::size_t) override {}
   bool stopAsked() const override { return Lines::stop; }
};

// The server on its thread; what it logs is kept.
class LineRig {
 public:
   explicit LineRig(ServerLimits limits) {
      LineServiceForTests::Lines::stop = false;
      server_ = std::make_unique<TwiceNatService::Server>(service_, path_, limits,
                                                          [this](std::string const& line) {
                                                             std::scoped_lock lock(logMutex_);
                                                             log_.push_back(line);
                                                          });
      thread_ = std::thread([this] {
         server_->run();
         server_->close();
      });
   }
   ~LineRig() {
      server_->stopIs();
      thread_.join();
   }
   std::string const& path() const { return path_; }
   std::vector<std::string> log() const {
      std::scoped_lock lock(logMutex_);
      return log_;
   }
   // How many log lines hold `text`.
   int count(std::string const& text) const {
      int n = 0;
      for (std::string const& line : log())
         n += line.find(text) != std::string::npos;
      return n;
   }
   // The same, once there is one, waiting up to two seconds for it.
   int logged(std::string const& text) const {
      for (int i = 0; i < 400 && !count(text); ++i)
         std::this_thread::sleep_for(5ms);
      return count(text);
   }

 private:
   std::string path_ = TwiceNatTest::scratchFolder("srv") + "/s.sock";
   LineServiceForTests service_;
   std::unique_ptr<TwiceNatService::Server> server_;
   std::thread thread_;
   mutable std::mutex logMutex_;
   std::vector<std::string> log_;
};

// A raw connection; every receive gives up after `timeout`.
class RawClient {
 public:
   explicit RawClient(std::string const& path, std::chrono::milliseconds timeout = 2s) {
      fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
      timeval const limit{time_t(timeout.count() / 1000),
                          suseconds_t(timeout.count() % 1000 * 1000)};
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
   }
   ~RawClient() { ::close(fd_); }
   bool connected() const { return connected_; }
   int fd() const { return fd_; }
   void send(std::string const& bytes) {
      ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
   }
   // The next line without its newline; "<timeout>" or "<closed>" when none comes.
   std::string line() {
      for (;;) {
         if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
            std::string l = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return l;
         }
         char chunk[65536];
         ssize_t const n = ::recv(fd_, chunk, sizeof chunk, 0);
         if (n < 0) return "<timeout>";
         if (n == 0) return "<closed>";
         buffer_.append(chunk, std::size_t(n));
      }
   }
   // Reads at most `bytes` now, waiting for them no longer than the receive timeout.
   std::size_t take(std::size_t bytes) {
      std::string chunk(bytes, '\0');
      ssize_t const n = ::recv(fd_, chunk.data(), bytes, 0);
      return n > 0 ? std::size_t(n) : 0;
   }

 private:
   int fd_ = -1;
   bool connected_ = false;
   std::string buffer_;
};

}  // namespace TwiceNatServiceTest
