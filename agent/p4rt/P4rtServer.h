#pragma once
// The gRPC server that serves P4Runtime for an agent: listens on an address (host:port; port 0
// takes a free one), runs the service on gRPC's threads until stopped.
#include <memory>
#include <string>

#include "agent/p4rt/P4RuntimeService.h"

namespace grpc {
class Server;
}

namespace TwiceNatP4rt {

constexpr char const* kDefaultAddress = "127.0.0.1:9559";
// The largest request taken: a Write at the update limit in padded byte strings fits.
constexpr int kMaxMessageBytes = 64 << 20;

class P4rtServer {
 public:
   // Throws std::runtime_error when the address cannot be listened on.
   P4rtServer(TwiceNatAgent::AgentCore& core, std::string const& address,
              ServiceOptions const& options = {});
   // Stops (see stop()).
   ~P4rtServer();
   P4rtServer(P4rtServer const&) = delete;
   P4rtServer& operator=(P4rtServer const&) = delete;

   int port() const { return port_; }
   std::string const& address() const { return address_; }  // as asked
   P4RuntimeService const& service() const { return *service_; }
   // No new calls; calls in progress get a moment to finish, then the rest (open stream
   // channels, reads of clients that stopped reading) are cancelled. Idempotent.
   void stop();

 private:
   std::string address_;
   int port_ = 0;
   std::unique_ptr<P4RuntimeService> service_;
   std::unique_ptr<grpc::Server> server_;
};

}  // namespace TwiceNatP4rt
