#include "agent/cli/Client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "agent/cli/InputError.h"

namespace TwiceNatCli {

std::unique_ptr<Client> Client::connect(std::string const& socketPath) {
   sockaddr_un a{};
   a.sun_family = AF_UNIX;
   // No agent can listen on a path too long for a socket (serve refuses such a folder).
   if (socketPath.size() >= sizeof a.sun_path) return nullptr;
   std::memcpy(a.sun_path, socketPath.c_str(), socketPath.size() + 1);
   int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
   if (fd < 0) throw std::runtime_error(std::string("cannot make a socket: ") + strerror(errno));
   if (::connect(fd, reinterpret_cast<sockaddr const*>(&a), sizeof a) != 0) {
      ::close(fd);
      return nullptr;
   }
   return std::make_unique<Client>(fd);
}

Client::~Client() {
   ::close(fd_);
}

std::string Client::exchange(std::string const& line) {
   for (std::size_t sent = 0; sent < line.size();) {
      ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("the agent went away: " + std::string(strerror(errno)));
      sent += std::size_t(n);
   }
   std::size_t scanned = 0;
   for (;;) {
      std::size_t const nl = buffer_.find('\n', scanned);
      if (nl != std::string::npos) {
         std::string reply = buffer_.substr(0, nl + 1);
         buffer_.erase(0, nl + 1);
         return reply;
      }
      scanned = buffer_.size();
      char chunk[65536];
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("the agent went away before it answered");
      buffer_.append(chunk, std::size_t(n));
   }
}

Reply Client::call(Request const& request) {
   try {
      return parseReply(exchange(encode(request)));
   } catch (ProtocolError const& e) {
      throw std::runtime_error(std::string("the agent's reply makes no sense: ") + e.what());
   }
}

Reach reach(StateDir const& state, StateLock::Mode mode, bool noWait, bool agentWelcome) {
   state.check();
   Reach r;
   std::error_code ec;
   if (!std::filesystem::exists(state.dir, ec)) return r;  // nothing there to serve or lock
   bool told = false;
   for (;;) {
      if (agentWelcome) {
         r.agent = Client::connect(state.socketPath());
         if (r.agent) return r;
      }
      if (r.lock.tryTake(state.dir, mode) != StateLock::Outcome::busy) return r;
      if (noWait) {
         throw BusyError("another twicenat holds the state folder " + state.dir +
                         " (--no-wait: not waiting)");
      }
      if (!told) {
         std::cerr << "twicenat: waiting for another twicenat to finish with " << state.dir << "\n";
         told = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
   }
}

AgentLink::AgentLink(GlobalOptions const& global, bool changes)
    : reach_(reach(stateDirOf(global.state),
                   changes ? StateLock::Mode::write : StateLock::Mode::read, global.noWait)) {
   if (remote()) return;
   local_ = std::make_unique<AgentStart>(stateDirOf(global.state));
   service_ = std::make_unique<Service>(*local_, local_->state.dir);
}

AgentLink::~AgentLink() {
   service_.reset();
   local_.reset();  // before the lock goes
}

Reply AgentLink::call(Request const& request) {
   return remote() ? reach_.agent->call(request) : service_->handle(request);
}

int printed(Reply const& reply) {
   std::cout << reply.out << std::flush;
   std::cerr << reply.err << std::flush;
   return reply.status;
}

int runBody(Command const& command, ParsedArgs const& args, GlobalOptions const& global) {
   AgentLink link(global, command.changes);
   Request request;
   request.cmd = std::string(command.spec.name);
   request.args = args.raw();
   return printed(link.call(request));
}

}  // namespace TwiceNatCli
