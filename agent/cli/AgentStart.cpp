#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

AgentStart::AgentStart(GlobalOptions const& global) : state(stateDirOf(global.state)) {
   if (!state.chipExists()) {
      throw InputError("no chip in " + state.dir +
                       ": create one first with 'twicenat chip create' (or name another state "
                       "folder with --state DIR)");
   }
   chip = chip::Chip::open(state.chipPath());
   session = std::make_unique<AgentSession>(*chip, state.keyTablePath(), sdk);
}

std::vector<Command> const& commands() {
   static std::vector<Command> const all = {
       chipCreateCommand(), chipDestroyCommand(),  chipShowCommand(), setCommand(),  delCommand(),
       defaultSetCommand(), defaultResetCommand(), showCommand(),     loadCommand(), demoCommand(),
   };
   return all;
}

}  // namespace TwiceNatCli
