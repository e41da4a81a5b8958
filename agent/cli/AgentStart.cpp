#include <unistd.h>

#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

AgentStart::AgentStart(StateDir const& s) : state(s) {
   state.check();
   if (!state.chipExists()) {
      throw InputError("no chip in " + state.dir +
                       ": create one first with 'twicenat chip create' (or name another state "
                       "folder with --state DIR)");
   }
   // A folder this user cannot write is looked at, never settled.
   bool const readOnly = ::access(state.dir.c_str(), W_OK) != 0 ||
                         ::access(state.chipPath().c_str(), W_OK) != 0 ||
                         ::access(state.keyTablePath().c_str(), W_OK) != 0;
   // MERGE: open read-only when `readOnly`:
   //   chip = chip::Chip::open(state.chipPath(), readOnly ? chip::ChipAccess::readOnly
   //                                                      : chip::ChipAccess::readWrite);
   //   session = std::make_unique<AgentSession>(*chip, state.keyTablePath(), sdk, readOnly);
   (void)readOnly;
   chip = chip::Chip::open(state.chipPath());
   session = std::make_unique<AgentSession>(*chip, state.keyTablePath(), sdk);
}

std::vector<Command> const& commands() {
   static std::vector<Command> const all = {
       chipCreateCommand(), chipDestroyCommand(),  chipShowCommand(), setCommand(),  delCommand(),
       defaultSetCommand(), defaultResetCommand(), showCommand(),     loadCommand(), serveCommand(),
       statusCommand(),     stopCommand(),         demoCommand(),
   };
   return all;
}

Command const* commandNamed(std::string_view name) {
   for (Command const& c : commands()) {
      if (c.spec.name == name) return &c;
   }
   return nullptr;
}

}  // namespace TwiceNatCli
