#pragma once
// The agent's commands. Each is declared by its option table (which also makes its --help,
// and the completion) and a function that runs it; the commands that read or change the table
// send typed requests to the agent serving the state folder, or, when none serves, to a core
// of their own process under the folder's lock (Link.h).
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/cli/Args.h"
#include "agent/cli/SdkLibrary.h"
#include "agent/cli/StateDir.h"
#include "agent/core/AgentCore.h"
#include "chip/Chip.h"
#include "chip/ChipInventory.h"
#include "agent/cli/StateLock.h"

namespace TwiceNatCli {

struct GlobalOptions {
   std::optional<std::string> state;
   bool trace = false;
   bool noWait = false;  // fail at once when another command holds the state folder
   // How long a client waits for the agent at any one step.
   std::chrono::milliseconds timeout{10000};
};

// Returns the exit status; failures are thrown.
struct Command {
   CommandSpec spec;
   int (*run)(ParsedArgs const& args, GlobalOptions const& global) = nullptr;
   bool changes = false;  // changes the table
};

// Every command, in the order the top-level help lists them.
std::vector<Command> const& commands();
Command const* commandNamed(std::string_view name);

// One agent start over the chip of a state folder: the chip opened and attached as the
// core's device, and the core started over it and the folder's key table. InputError when the
// folder has no chip.
struct AgentStart {
   // `reportStart`: a start that repaired or reconciled anything prints its notes on stderr.
   explicit AgentStart(StateDir const& state, bool reportStart = true);
   explicit AgentStart(GlobalOptions const& global) : AgentStart(stateDirOf(global.state)) {}
   TwiceNatAgent::AgentCore& operator*() const { return *core; }
   TwiceNatAgent::AgentCore* operator->() const { return core.get(); }
   // The chip's repair notes, then the core's start notes.
   std::vector<std::string> notes() const;
   // Key records whose entry the chip no longer holds, and chip entries without a key record,
   // left so because the start is read-only.
   U64 staleRecords() const;
   U64 orphanEntries() const;

   StateDir state;
   SdkLibrary sdk;
   // Dropped in reverse order: the core first, then the chip, which detaches from its device.
   std::unique_ptr<chip::Chip> chip;
   std::unique_ptr<chip::ChipInventory> inventory;
   std::unique_ptr<TwiceNatAgent::AgentCore> core;
};

// The core started over an opened chip, which it attaches as the core's device: for the
// commands' start and the demo's private chip.
std::unique_ptr<TwiceNatAgent::AgentCore> coreOver(chip::Chip& chip,
                                                   chip::ChipInventory const& inventory,
                                                   std::string const& keyTablePath,
                                                   SdkLibrary const& sdk, bool readOnly);

// The chip's repair notes, then the core's start notes, with the keys of the entries the chip
// quarantined named before the reconcile's line.
std::vector<std::string> startNotes(chip::Chip const& chip, TwiceNatAgent::AgentCore const& core,
                                    std::string const& keyTablePath);

// The chip's figures as one JSON object: what 'chip show --json' prints.
std::string chipFigures(AgentStart const& start);

// The key table's capacity for a chip's: room for every entry and the default of every pipe.
U64 keyTableCapacity(U32 chipCapacity);

// The folder's lock for a command that replaces or repairs the state under an agent's feet:
// InputError while an agent serves the folder.
StateLock lockedForChange(StateDir const& state, GlobalOptions const& global);

Command chipCreateCommand();
Command chipDestroyCommand();
Command chipShowCommand();
Command chipCheckCommand();
Command chipRepairCommand();
Command chipCheckCommand();
Command chipRepairCommand();
Command setCommand();
Command delCommand();
Command defaultSetCommand();
Command defaultResetCommand();
Command showCommand();
Command loadCommand();
Command diffCommand();
Command clearCommand();
Command demoCommand();
Command p4infoCommand();
Command serveCommand();
Command statusCommand();
Command stopCommand();

}  // namespace TwiceNatCli
