#include <unistd.h>

#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

AgentStart::AgentStart(StateDir const& s, bool reportStart) : state(s) {
   state.requireState();
   // A folder this user cannot write is looked at, never settled.
   bool const readOnly = ::access(state.dir.c_str(), W_OK) != 0 ||
                         ::access(state.chipPath().c_str(), W_OK) != 0 ||
                         ::access(state.keyTablePath().c_str(), W_OK) != 0;
   chip = chip::Chip::open(state.chipPath(),
                           readOnly ? chip::ChipAccess::readOnly : chip::ChipAccess::readWrite);
   session = std::make_unique<AgentSession>(*chip, state.keyTablePath(), sdk, readOnly);
   // A start that repaired or reconciled something says so; a quiet one says nothing.
   std::vector<std::string> const& notes = session->startNotes();
   if (reportStart && (notes.size() > 1 || session->reconciledAnything())) {
      for (std::string const& note : notes)
         std::cerr << "twicenat: " << note << "\n";
   }
}

std::vector<Command> const& commands() {
   static std::vector<Command> const all = {
       chipCreateCommand(),   chipDestroyCommand(), chipShowCommand(), chipCheckCommand(),
       chipRepairCommand(),   setCommand(),         delCommand(),      defaultSetCommand(),
       defaultResetCommand(), showCommand(),        loadCommand(),     serveCommand(),
       statusCommand(),       stopCommand(),        demoCommand(),
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
