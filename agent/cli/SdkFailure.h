#pragma once
// Table exceptions reach the agent in four shapes: BfTableException and the subclasses that
// derive from it publicly, and three subclasses with a private base that only a handler of
// their own type receives. This turns whichever is in flight into one text.
#include <exception>
#include <optional>
#include <string>

namespace TwiceNatCli {

// "<message> (<class>, status <n>)" when `e` is a table exception; nothing otherwise.
std::optional<std::string> sdkFailureText(std::exception_ptr e);

}  // namespace TwiceNatCli
