#include "agent/p4rt/RpcError.h"

namespace TwiceNatP4rt {

char const* rpcCodeName(Rpc code) {
   switch (code) {
      case Rpc::OK:
         return "OK";
      case Rpc::CANCELLED:
         return "CANCELLED";
      case Rpc::UNKNOWN:
         return "UNKNOWN";
      case Rpc::INVALID_ARGUMENT:
         return "INVALID_ARGUMENT";
      case Rpc::DEADLINE_EXCEEDED:
         return "DEADLINE_EXCEEDED";
      case Rpc::NOT_FOUND:
         return "NOT_FOUND";
      case Rpc::ALREADY_EXISTS:
         return "ALREADY_EXISTS";
      case Rpc::PERMISSION_DENIED:
         return "PERMISSION_DENIED";
      case Rpc::RESOURCE_EXHAUSTED:
         return "RESOURCE_EXHAUSTED";
      case Rpc::FAILED_PRECONDITION:
         return "FAILED_PRECONDITION";
      case Rpc::ABORTED:
         return "ABORTED";
      case Rpc::OUT_OF_RANGE:
         return "OUT_OF_RANGE";
      case Rpc::UNIMPLEMENTED:
         return "UNIMPLEMENTED";
      case Rpc::INTERNAL:
         return "INTERNAL";
      case Rpc::UNAVAILABLE:
         return "UNAVAILABLE";
      case Rpc::DATA_LOSS:
         return "DATA_LOSS";
      case Rpc::UNAUTHENTICATED:
         return "UNAUTHENTICATED";
      default:
         return "UNKNOWN";
   }
}

}  // namespace TwiceNatP4rt
