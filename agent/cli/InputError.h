#pragma once
// What a person typed (or a file holds) that the agent refuses before it touches the chip or
// the key table. The command ends with exit status 2.
#include <stdexcept>
#include <string>

namespace TwiceNatCli {

class InputError : public std::runtime_error {
 public:
   explicit InputError(std::string const& message) : std::runtime_error(message) {}
};

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitSdkFailure = 1;
constexpr int kExitBadInput = 2;

}  // namespace TwiceNatCli
