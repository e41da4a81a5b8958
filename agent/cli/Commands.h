#pragma once
// The agent's commands. Each is declared by its option table (which also makes its --help)
// and either a body, which the agent serving the state folder runs for it (or this process,
// under the folder's lock, when none serves), or a function of its own that runs it.
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/cli/AgentSession.h"
#include "agent/cli/Args.h"
#include "agent/cli/SdkLibrary.h"
#include "agent/cli/StateDir.h"
#include "agent/cli/StateLock.h"

namespace TwiceNatCli {

struct GlobalOptions {
   std::optional<std::string> state;
   bool trace = false;
   bool noWait = false;  // fail at once when another command holds the state folder
};

// A command's work over a session; what it prints goes to `out` and `err`. Returns the exit
// status; failures are thrown.
using CommandBody = int (*)(ParsedArgs const& args, AgentSession& session, std::ostream& out,
                            std::ostream& err);

struct Command {
   CommandSpec spec;
   int (*run)(ParsedArgs const& args, GlobalOptions const& global) = nullptr;
   CommandBody body = nullptr;  // set for the commands an agent runs
   bool changes = false;        // a body that changes the chip or the key table
};

// Every command, in the order the top-level help lists them.
std::vector<Command> const& commands();
Command const* commandNamed(std::string_view name);

// One agent start over the chip of a state folder. InputError when the folder has no chip.
struct AgentStart {
   // `reportStart`: a start that repaired or reconciled anything prints its notes on stderr.
   explicit AgentStart(StateDir const& state, bool reportStart = true);
   explicit AgentStart(GlobalOptions const& global) : AgentStart(stateDirOf(global.state)) {}
   StateDir state;
   SdkLibrary sdk;
   std::unique_ptr<chip::Chip> chip;
   std::unique_ptr<AgentSession> session;
};

// The key table's capacity for a chip's: room for every entry and the default of every pipe.
U64 keyTableCapacity(U32 chipCapacity);

// The folder's lock for a command that replaces or repairs the state under an agent's feet:
// InputError while an agent serves the folder.
StateLock lockedForChange(StateDir const& state, GlobalOptions const& global);

// Runs a body command through the folder's agent, or in this process.
int runBody(Command const& command, ParsedArgs const& args, GlobalOptions const& global);

Command chipCreateCommand();
Command chipDestroyCommand();
Command chipShowCommand();
Command chipCheckCommand();
Command chipRepairCommand();
Command setCommand();
Command delCommand();
Command defaultSetCommand();
Command defaultResetCommand();
Command showCommand();
Command loadCommand();
Command demoCommand();
Command serveCommand();
Command statusCommand();
Command stopCommand();

}  // namespace TwiceNatCli
