#pragma once
// Failures as a command ends with them: table exceptions (which reach the agent in four
// shapes: BfTableException and the subclasses that derive from it publicly, and three
// subclasses with a private base that only a handler of their own type receives) and the
// statuses the core answers with.
#include <exception>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>

#include "agent/core/AgentCore.h"

namespace TwiceNatCli {

// "<message> (<class>, status <n>)" when `e` is a table exception; nothing otherwise.
std::optional<std::string> sdkFailureText(std::exception_ptr e);

// A status other than OK that the core answered with, on its way to reportFailure.
class CoreFailure : public std::runtime_error {
 public:
   explicit CoreFailure(TwiceNatAgent::Status s)
       : std::runtime_error(s.message), status(std::move(s)) {}
   TwiceNatAgent::Status status;
};

// Throws for a status other than OK: InputError for what the input asked that the table
// cannot do (a VRF it lacks, an entry it does not hold), CoreFailure for the rest.
void check(TwiceNatAgent::Status const& status);

// Writes the one line a command ends with on a failure ("twicenat: ...") and returns its exit
// status: 2 for input the agent refuses, 1 for SDK and other failures.
int reportFailure(std::exception_ptr e, std::ostream& err);

}  // namespace TwiceNatCli
