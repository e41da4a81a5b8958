#include "agent/service/Server.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "agent/daemon/Log.h"

namespace TwiceNatService {

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

// Descriptors open with numbers below `limit` (inherited ones above it do not count against
// it); nothing when not even the listing's own descriptor fits.
std::optional<std::size_t> descriptorsBelow(rlim_t limit) {
   DIR* d = ::opendir("/proc/self/fd");
   if (!d) return errno == EMFILE ? std::optional<std::size_t>() : std::optional<std::size_t>(0);
   std::size_t n = 0;
   while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.' && rlim_t(std::atol(e->d_name)) < limit) ++n;
   }
   ::closedir(d);
   return n - 1;  // the listing's own
}

std::runtime_error noRoom() {
   rlimit r{};
   ::getrlimit(RLIMIT_NOFILE, &r);
   return std::runtime_error("the descriptor limit (" + std::to_string(r.rlim_cur) +
                             ") leaves no room for a client beside what the agent holds: "
                             "raise it (ulimit -n)");
}

std::string peerName(int fd, U64 serial) {
   ucred cred{};
   socklen_t len = sizeof cred;
   std::string name = "client " + std::to_string(serial);
   if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.pid > 0) {
      name += " (pid " + std::to_string(cred.pid) + ")";
   }
   return name;
}

}  // namespace

void Server::stderrLog(std::string const& line) {
   TwiceNatAgent::Log::warning(line);
}

Server::Server(LineService& service, std::string socketPath, ServerLimits limits, Log log)
    : service_(service), socketPath_(std::move(socketPath)), limits_(limits), log_(std::move(log)) {
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   if (socketPath_.size() >= sizeof a.sun_path) {
      throw std::runtime_error("the socket path " + socketPath_ + " is longer than " +
                               std::to_string(sizeof a.sun_path - 1) + " bytes");
   }
   std::memcpy(a.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
   wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
   epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
   listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
   if (wake_ < 0 || epoll_ < 0 || listen_ < 0) {
      std::runtime_error e =
          errno == EMFILE ? noRoom() : failure("cannot set the agent's socket up");
      close();
      throw e;
   }
   ::unlink(socketPath_.c_str());
   // Made 0600 from the start: never a moment when another user could connect.
   mode_t const old = ::umask(077);
   int const bound = ::bind(listen_, reinterpret_cast<sockaddr const*>(&a), sizeof a);
   ::umask(old);
   if (bound == 0) ::chmod(socketPath_.c_str(), 0600);
   if (bound != 0 || ::listen(listen_, SOMAXCONN) != 0) {
      std::runtime_error e = failure("cannot listen on " + socketPath_);
      close();
      throw e;
   }
   epoll_event ev{EPOLLIN, {}};
   ev.data.fd = wake_;
   ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
   ev.data.fd = listen_;
   ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev);
   room_ = ensureRoom();
   if (room_ == 0) {
      close();
      ::unlink(socketPath_.c_str());
      throw noRoom();
   }
}

Server::~Server() {
   close();
   ::unlink(socketPath_.c_str());
   Server* self = this;
   signalled.compare_exchange_strong(self, nullptr);
}

// Raises the soft limit as far as the hard one allows toward what the clients need, and says
// how many clients fit.
std::size_t Server::ensureRoom() const {
   rlimit r{};
   if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY) {
      return limits_.maxClients;
   }
   rlim_t const want = r.rlim_cur + rlim_t(limits_.maxClients);
   if (r.rlim_max == RLIM_INFINITY || r.rlim_max > r.rlim_cur) {
      rlimit raised = r;
      raised.rlim_cur = r.rlim_max == RLIM_INFINITY ? want : std::min(want, r.rlim_max);
      if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) r = raised;
   }
   std::optional<std::size_t> const used = descriptorsBelow(r.rlim_cur);
   if (!used || *used >= r.rlim_cur) return 0;
   return std::min<std::size_t>(limits_.maxClients, r.rlim_cur - *used);
}

void Server::close() {
   clients_.clear();
   interest_.clear();
   for (int* fd : {&listen_, &epoll_, &wake_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
   }
}

void Server::stopIs() {
   stopping_ = true;
   U64 const one = 1;
   if (wake_ >= 0) [[maybe_unused]]
      ssize_t n = ::write(wake_, &one, sizeof one);
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

// Said once until a client is taken again.
void Server::pause(std::string const& why) {
   if (!accepting_) return;
   accepting_ = false;
   ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listen_, nullptr);
   retryAccept_ = Clock::now() + std::chrono::seconds(1);
   if (!paused_) log_("not accepting clients: " + why + "; new clients wait until one leaves");
   paused_ = true;
}

void Server::acceptAll() {
   while (accepting_) {
      if (clients_.size() >= room_) {
         pause(room_ < limits_.maxClients
                   ? "at the descriptor limit (" + std::to_string(room_) + " clients)"
                   : "at the cap of " + std::to_string(limits_.maxClients) + " clients");
         return;
      }
      int const fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
         if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            pause("at the descriptor limit (" + std::string(std::strerror(errno)) + ", " +
                  std::to_string(clients_.size()) + " clients)");
         }
         if (errno == EINTR || errno == ECONNABORTED) continue;
         return;
      }
      if (paused_) {
         log_("accepting clients again (" + std::to_string(clients_.size() + 1) + " connected)");
         paused_ = false;
      }
      auto c = std::make_unique<Connection>(fd, service_.connected(), peerName(fd, ++serial_),
                                            limits_, Clock::now());
      epoll_event ev{EPOLLIN, {}};
      ev.data.fd = fd;
      ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
      interest_[fd] = EPOLLIN;
      clients_.emplace(fd, std::move(c));
   }
}

void Server::watch(Connection& c) {
   U32 const want = (c.wantsInput() ? EPOLLIN : 0u) | (c.wantsOutput() ? EPOLLOUT : 0u);
   U32& now = interest_[c.fd()];
   if (want == now) return;
   epoll_event ev{want, {}};
   ev.data.fd = c.fd();
   ::epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd(), &ev);
   now = want;
}

void Server::drop(int fd, std::string const& why) {
   if (std::find(dropped_.begin(), dropped_.end(), fd) != dropped_.end()) return;
   auto it = clients_.find(fd);
   if (it == clients_.end()) return;
   if (!why.empty()) {
      log_(it->second->name() + " cut off: " + why);
      it->second->farewell(service_.farewell("cut off: " + why, false));
      it->second->send(Clock::now());
   }
   dropped_.push_back(fd);
}

void Server::serveRound(Clock::time_point now) {
   for (auto& [fd, c] : clients_) {
      if (std::find(dropped_.begin(), dropped_.end(), fd) != dropped_.end()) continue;
      Connection::Step const step = c->hasWork() ? c->step(now) : Connection::Step::idle;
      if (step == Connection::Step::tooLong) {
         std::string const why =
             "a request longer than " + std::to_string(limits_.maxRequestBytes) + " bytes";
         log_(c->name() + " refused: " + why);
         c->farewell(service_.farewell(
             "request longer than " + std::to_string(limits_.maxRequestBytes) + " bytes", true));
      }
      if (c->wantsOutput() && !c->send(now)) {
         drop(fd, "");
         continue;
      }
      if (step == Connection::Step::served && service_.stopAsked()) stopIs();
      if (c->finished()) drop(fd, "");
   }
}

void Server::sweep(Clock::time_point now) {
   nextSweep_ = now + std::chrono::milliseconds(250);
   for (auto& [fd, c] : clients_) {
      std::string const why = c->overdue(now);
      if (!why.empty()) drop(fd, why);
   }
   if (!accepting_ && clients_.size() < room_ && now >= retryAccept_) {
      accepting_ = true;
      epoll_event ev{EPOLLIN, {}};
      ev.data.fd = listen_;
      ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev);
   }
}

int Server::timeoutMs() const {
   bool timed = !accepting_;
   for (auto const& [fd, c] : clients_) {
      if (c->hasWork()) return 0;
      timed = timed || c->timed();
   }
   return timed ? 250 : -1;
}

void Server::run() {
   signalled = this;
   if (stopSignalled) stopIs();
   epoll_event events[64];
   bool worked = false;
   while (!stopping_) {
      int const timeout = timeoutMs();
      int n = worked && timeout != 0 ? waitBriefly(events) : 0;
      if (n == 0) n = ::epoll_wait(epoll_, events, 64, timeout);
      if (n < 0 && errno != EINTR) throw failure("epoll_wait");
      worked = n > 0;
      Clock::time_point const now = Clock::now();
      for (int i = 0; i < n; ++i) {
         int const fd = events[i].data.fd;
         if (fd == wake_ || fd == listen_) {
            if (fd == listen_) acceptAll();
            continue;
         }
         auto it = clients_.find(fd);
         if (it == clients_.end()) continue;
         Connection& c = *it->second;
         U32 const ev = events[i].events;
         bool ok = true;
         if (ev & (EPOLLIN | EPOLLHUP | EPOLLERR)) ok = c.receive(now);
         if (ok && (ev & EPOLLOUT)) ok = c.send(now);
         if (!ok) drop(fd, "");
      }
      serveRound(now);
      if (now >= nextSweep_) sweep(now);
      for (int fd : dropped_) {
         interest_.erase(fd);
         clients_.erase(fd);  // closing the socket takes it out of the epoll set
      }
      if (!dropped_.empty() && !accepting_) retryAccept_ = now;
      dropped_.clear();
      for (auto& [fd, c] : clients_)
         watch(*c);
      service_.clientsAre(clients_.size());
   }
   sendWhatIsLeft();
}

// A processor that halts while the agent sleeps takes tens of microseconds to wake (a virtual
// one most of all), which would be most of a set's round trip. A client in a loop sends its next
// request within a few microseconds of its reply, so after work the loop keeps looking for a
// short while before it sleeps: a burst of requests keeps the agent awake, an idle agent sleeps.
int Server::waitBriefly(epoll_event* events) {
   constexpr auto kAwake = std::chrono::microseconds(50);
   auto const until = Clock::now() + kAwake;
   int n = 0;
   do {
      n = ::epoll_wait(epoll_, events, 64, 0);
   } while (n == 0 && Clock::now() < until);
   return n;
}

// Replies already made (the stop's among them) go out, for a moment at most.
void Server::sendWhatIsLeft() {
   auto const until = Clock::now() + std::chrono::seconds(1);
   for (auto& [fd, c] : clients_) {
      while (c->wantsOutput() && Clock::now() < until) {
         pollfd p{fd, POLLOUT, 0};
         if (::poll(&p, 1, 100) < 0 || !c->send(Clock::now())) break;
      }
   }
}

}  // namespace TwiceNatService
