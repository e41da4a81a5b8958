#pragma once
// Table exceptions reach the agent in four shapes: BfTableException and the subclasses that
// derive from it publicly, and three subclasses with a private base that only a handler of
// their own type receives. This turns whichever is in flight into one text.
#include <exception>
#include <iosfwd>
#include <optional>
#include <string>

namespace TwiceNatCli {

// "<message> (<class>, status <n>)" when `e` is a table exception; nothing otherwise.
std::optional<std::string> sdkFailureText(std::exception_ptr e);

}  // namespace TwiceNatCli

namespace TwiceNatCli {

// Writes the one line a command ends with on a failure ("twicenat: ...") and returns its exit
// status: 2 for input the agent refuses, 1 for SDK and other failures.
int reportFailure(std::exception_ptr e, std::ostream& err);

}  // namespace TwiceNatCli
