#include "agent/service/Client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "agent/service/ReplyCodec.h"
#include "agent/service/RequestCodec.h"
#include "agent/service/ServerLimits.h"

namespace TwiceNatService {

namespace {

using Clock = std::chrono::steady_clock;

// A reply line longer than this is no reply of an agent.
constexpr std::size_t kMaxReplyBytes = std::size_t(256) << 20;

int remainingMs(Clock::time_point until) {
   auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
   return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

std::unique_ptr<Client> Client::connect(std::string const& socketPath, Timeout timeout) {
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   // No agent can listen on a path too long for a socket (serve refuses such a folder).
   if (socketPath.size() >= sizeof a.sun_path) return nullptr;
   std::memcpy(a.sun_path, socketPath.c_str(), socketPath.size() + 1);
   int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   if (fd < 0)
      throw std::runtime_error(std::string("cannot make a socket: ") + std::strerror(errno));
   // A full queue of new clients makes connect wait, for this long at most.
   timeval const limit{time_t(timeout.count() / 1000), suseconds_t(timeout.count() % 1000 * 1000)};
   ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
   while (::connect(fd, reinterpret_cast<sockaddr const*>(&a), sizeof a) != 0) {
      if (errno == EINTR) continue;
      int const e = errno;
      ::close(fd);
      if (e == EAGAIN || e == EWOULDBLOCK) {
         throw AgentTimeout("the agent took no new connection within " + secondsText(timeout));
      }
      return nullptr;
   }
   ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
   return std::make_unique<Client>(fd, timeout);
}

Client::Client(int fd, Timeout timeout) : fd_(fd), timeout_(timeout) {
   ucred peer{};
   socklen_t len = sizeof peer;
   if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0) agentPid_ = peer.pid;
}

Client::~Client() {
   ::close(fd_);
}

void Client::sendBytes(std::string_view bytes) {
   Clock::time_point const until = Clock::now() + timeout_;
   std::size_t sent = 0;
   while (sent < bytes.size()) {
      // Replies that arrive meanwhile are taken, so that the agent never waits on this client
      // while this client waits on the agent.
      pollfd p{fd_, POLLOUT | POLLIN, 0};
      int const n = ::poll(&p, 1, remainingMs(until));
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) throw AgentTimeout("the agent took no request within " + secondsText(timeout_));
      if (p.revents & POLLIN) {
         char chunk[65536];
         ssize_t const got = ::recv(fd_, chunk, sizeof chunk, 0);
         if (got > 0) in_.append(chunk, std::size_t(got));
      }
      if (!(p.revents & (POLLOUT | POLLERR | POLLHUP))) continue;
      ssize_t const w = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (w < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (w <= 0) {
         throw ConnectionLost("the connection ended while a request was sent (" +
                              std::string(std::strerror(errno)) + ")");
      }
      sent += std::size_t(w);
   }
}

std::string_view Client::receiveLine() {
   inAt_ = lineEnd_;
   if (inAt_ > 65536 && inAt_ * 2 > in_.size()) {
      in_.erase(0, inAt_);
      inAt_ = 0;
   }
   Clock::time_point const until = Clock::now() + timeout_;
   std::size_t scanned = inAt_;
   for (;;) {
      std::size_t const nl = in_.find('\n', scanned);
      if (nl != std::string::npos) {
         lineEnd_ = nl + 1;
         return std::string_view(in_).substr(inAt_, lineEnd_ - inAt_);
      }
      scanned = in_.size();
      if (in_.size() - inAt_ > kMaxReplyBytes) {
         throw ConnectionLost("the agent sent a line longer than " +
                              std::to_string(kMaxReplyBytes) + " bytes");
      }
      pollfd p{fd_, POLLIN, 0};
      int const n = ::poll(&p, 1, remainingMs(until));
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) throw AgentTimeout("the agent did not answer within " + secondsText(timeout_));
      char chunk[65536];
      ssize_t const got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (got <= 0) {
         throw ConnectionLost(in_.size() > inAt_ ? "the connection ended inside a reply"
                                                 : "the connection ended before a reply");
      }
      in_.append(chunk, std::size_t(got));
   }
}

std::string Client::exchange(std::string const& bytes) {
   sendBytes(bytes);
   return std::string(receiveLine());
}

void Client::submit(Request const& request) {
   sendBytes(encodeRequest(request));
   ops_.push_back(request.op);
}

Reply Client::collect() {
   Op const op = ops_.empty() ? Op::status : ops_.front();
   std::string_view const line = receiveLine();
   if (!ops_.empty()) ops_.pop_front();
   return parseReply(op, line);
}

bool Client::page(Page& page) {
   parsePage(receiveLine(), page);
   if (page.last && !ops_.empty()) ops_.pop_front();
   return !page.last;
}

}  // namespace TwiceNatService
