#include "agent/cli/Server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "agent/cli/Args.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

namespace {

// The server a stop signal wakes; a signal before it runs (during the resync) is kept.
std::atomic<Server*> signalled{nullptr};
volatile sig_atomic_t stopSignalled = 0;

void onStopSignal(int) {
   stopSignalled = 1;
   if (Server* s = signalled.load()) s->stopIs();
}

std::runtime_error failure(std::string const& what) {
   return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

Server::Server(Service& service, std::string socketPath)
    : service_(service), socketPath_(std::move(socketPath)) {
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   if (socketPath_.size() >= sizeof a.sun_path) {
      throw InputError("the socket path " + cut(socketPath_) + " is longer than " +
                       std::to_string(sizeof a.sun_path - 1) +
                       " bytes: name a shorter state "
                       "folder");
   }
   std::memcpy(a.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
   if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw failure("cannot make a pipe");
   listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   if (listen_ < 0) throw failure("cannot make a socket");
   ::unlink(socketPath_.c_str());
   // Made 0600 from the start: never a moment when another user could connect.
   mode_t const old = ::umask(077);
   int const bound = ::bind(listen_, reinterpret_cast<sockaddr const*>(&a), sizeof a);
   ::umask(old);
   if (bound == 0) ::chmod(socketPath_.c_str(), 0600);
   if (bound != 0 || ::listen(listen_, 64) != 0) {
      std::runtime_error e = failure("cannot listen on " + socketPath_);
      close();
      ::close(wake_[0]);
      ::close(wake_[1]);
      throw e;
   }
}

Server::~Server() {
   close();
   ::unlink(socketPath_.c_str());
   Server* self = this;
   signalled.compare_exchange_strong(self, nullptr);
   ::close(wake_[0]);
   ::close(wake_[1]);
}

void Server::close() {
   for (Connection& c : clients_)
      ::close(c.fd);
   clients_.clear();
   if (listen_ >= 0) ::close(listen_);
   listen_ = -1;
}

void Server::stopIs() {
   stopping_ = true;
   char const b = 1;
   [[maybe_unused]] ssize_t n = ::write(wake_[1], &b, 1);
}

void Server::stopOnSignals() {
   struct sigaction sa {};
   sa.sa_handler = onStopSignal;
   sigemptyset(&sa.sa_mask);
   ::sigaction(SIGTERM, &sa, nullptr);
   ::sigaction(SIGINT, &sa, nullptr);
   sa.sa_handler = SIG_IGN;
   ::sigaction(SIGPIPE, &sa, nullptr);
}

bool Server::send(int fd, std::string const& line) {
   for (std::size_t sent = 0; sent < line.size();) {
      ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      sent += std::size_t(n);
   }
   return true;
}

bool Server::serveReadable(Connection& c) {
   char chunk[65536];
   ssize_t n = ::recv(c.fd, chunk, sizeof chunk, MSG_DONTWAIT);
   if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
   if (n == 0) return false;  // gone: what it was sent before stays done
   c.in.append(chunk, std::size_t(n));
   std::size_t begin = 0;
   while (!stopping_) {
      std::size_t const nl = c.in.find('\n', std::max(c.scanned, begin));
      if (nl == std::string::npos) {
         c.scanned = c.in.size();
         break;
      }
      std::string_view const line = std::string_view(c.in).substr(begin, nl - begin);
      std::size_t const bytes = textBytes(line);
      if (bytes > kMaxLine) {
         send(c.fd, encode(refusal("text longer than " + std::to_string(kMaxLine) + " bytes")));
         return false;
      }
      if (c.in.size() - (nl + 1) < bytes) {  // the request is whole once its text is here
         c.scanned = begin;
         break;
      }
      Reply const reply = service_.handleLine(line, std::string_view(c.in).substr(nl + 1, bytes));
      begin = c.scanned = nl + 1 + bytes;
      if (!send(c.fd, encode(reply))) return false;
      if (service_.stopAsked()) stopIs();
   }
   c.in.erase(0, begin);
   c.scanned -= std::min(c.scanned, begin);
   if (c.scanned > kMaxLine) {
      send(c.fd, encode(refusal("request longer than " + std::to_string(kMaxLine) + " bytes")));
      return false;
   }
   return true;
}

void Server::run() {
   signalled = this;
   if (stopSignalled) stopIs();
   std::vector<pollfd> fds;
   while (!stopping_) {
      fds.assign({{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}});
      for (Connection const& c : clients_)
         fds.push_back({c.fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) {
         if (errno == EINTR) continue;
         throw failure("poll");
      }
      if (fds[0].revents) break;
      // Clients first: those accepted now are in the next round.
      std::vector<Connection> kept;
      for (std::size_t i = 0; i < clients_.size(); ++i) {
         Connection& c = clients_[i];
         if (fds[i + 2].revents && !stopping_ && !serveReadable(c)) {
            ::close(c.fd);
            continue;
         }
         kept.push_back(std::move(c));
      }
      clients_ = std::move(kept);
      if (fds[1].revents & POLLIN) {
         int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
         if (fd >= 0) {
            // A client that stops reading its replies must not stop the agent for good.
            timeval const limit{10, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            clients_.push_back({fd, {}});
         }
      }
   }
}

}  // namespace TwiceNatCli
