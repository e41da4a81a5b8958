#pragma once
// The agent's commands. Each is declared by its option table (which also makes its --help)
// and a function that runs it and returns the exit status.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/cli/AgentSession.h"
#include "agent/cli/Args.h"
#include "agent/cli/SdkLibrary.h"
#include "agent/cli/StateDir.h"

namespace TwiceNatCli {

struct GlobalOptions {
   std::optional<std::string> state;
   bool trace = false;
};

struct Command {
   CommandSpec spec;
   int (*run)(ParsedArgs const& args, GlobalOptions const& global);
};

// Every command, in the order the top-level help lists them.
std::vector<Command> const& commands();

// One agent start over the chip of a state folder. InputError when the folder has no chip.
struct AgentStart {
   explicit AgentStart(GlobalOptions const& global);
   StateDir state;
   SdkLibrary sdk;
   std::unique_ptr<chip::Chip> chip;
   std::unique_ptr<AgentSession> session;
};

Command chipCreateCommand();
Command chipDestroyCommand();
Command chipShowCommand();
Command setCommand();
Command delCommand();
Command defaultSetCommand();
Command defaultResetCommand();
Command showCommand();
Command loadCommand();
Command demoCommand();

}  // namespace TwiceNatCli
