#include "agent/p4rt/P4rtServer.h"

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <stdexcept>

namespace TwiceNatP4rt {

P4rtServer::P4rtServer(TwiceNatAgent::AgentCore& core, std::string const& address,
                       ServiceOptions const& options)
    : address_(address), service_(std::make_unique<P4RuntimeService>(core, options)) {
   grpc::ServerBuilder builder;
   builder.AddListeningPort(address, grpc::InsecureServerCredentials(), &port_);
   builder.RegisterService(service_.get());
   builder.SetMaxReceiveMessageSize(kMaxMessageBytes);
   // Each open stream channel holds a thread; the rest serve unary calls and reads.
   grpc::ResourceQuota quota("p4rt");
   quota.SetMaxThreads(int(options.maxStreams) * 2 + 16);
   builder.SetResourceQuota(quota);
   server_ = builder.BuildAndStart();
   if (!server_ || port_ == 0) {
      server_.reset();
      throw std::runtime_error("cannot serve P4Runtime on " + address +
                               ": the address is taken or not this host's");
   }
}

P4rtServer::~P4rtServer() {
   stop();
}

void P4rtServer::stop() {
   if (!server_) return;
   server_->Shutdown(std::chrono::system_clock::now() + std::chrono::milliseconds(500));
   server_->Wait();
   server_.reset();
}

}  // namespace TwiceNatP4rt
