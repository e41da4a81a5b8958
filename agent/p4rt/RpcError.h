#pragma once
// The outcome of checking or carrying out one part of a P4Runtime request: a canonical code
// (google.rpc.Code, which gRPC's status codes equal) and one line saying why.
#include <string>

#include <grpcpp/support/status_code_enum.h>

namespace TwiceNatP4rt {

using Rpc = grpc::StatusCode;

struct RpcError {
   Rpc code = Rpc::OK;
   std::string message;
   bool ok() const { return code == Rpc::OK; }
};

inline RpcError refused(Rpc code, std::string message) {
   return {code, std::move(message)};
}

// "OK", "INVALID_ARGUMENT", ...
char const* rpcCodeName(Rpc code);

}  // namespace TwiceNatP4rt
