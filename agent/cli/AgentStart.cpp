#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"
#include "chip/Devices.h"

namespace TwiceNatCli {

std::unique_ptr<TwiceNatAgent::AgentCore> coreOver(chip::Chip& chip,
                                                   chip::ChipInventory const& inventory,
                                                   std::string const& keyTablePath,
                                                   SdkLibrary const& sdk, bool readOnly) {
   TwiceNatAgent::AgentCore::Config config;
   config.keyTablePath = keyTablePath;
   config.sdkLibrary = sdk.handle();
   config.sdkLibraryPath = sdk.path();
   config.inventory = &inventory;
   config.chipName = chip.path();
   config.readOnly = readOnly;
   if (chip::attached(config.device) != &chip) chip::attach(config.device, chip);
   return TwiceNatAgent::AgentCore::start(config);
}

AgentStart::AgentStart(StateDir const& s, bool reportStart) : state(s) {
   state.requireState();
   // A folder this user cannot write is looked at, never settled.
   bool const readOnly = ::access(state.dir.c_str(), W_OK) != 0 ||
                         ::access(state.chipPath().c_str(), W_OK) != 0 ||
                         ::access(state.keyTablePath().c_str(), W_OK) != 0;
   chip = chip::Chip::open(state.chipPath(),
                           readOnly ? chip::ChipAccess::readOnly : chip::ChipAccess::readWrite);
   inventory = std::make_unique<chip::ChipInventory>(*chip);
   core = coreOver(*chip, *inventory, state.keyTablePath(), sdk, readOnly);
   // A start that repaired or reconciled something says so; a quiet one says nothing.
   std::vector<std::string> const all = notes();
   if (reportStart && (all.size() > 1 || core->startReport().reconciledAnything())) {
      for (std::string const& note : all)
         std::cerr << "twicenat: " << note << "\n";
   }
}

std::vector<std::string> startNotes(chip::Chip const& chip, TwiceNatAgent::AgentCore const& core,
                                    std::string const& keyTablePath) {
   std::vector<std::string> all = chip.openNotes();
   auto const& report = core.startReport();
   for (std::string const& note : report.notes)
      all.push_back(note);
   // Before the reconcile's own line: the records dropped because the chip quarantined their
   // entries, by key, for these entries are lost.
   std::vector<std::string> lost;
   for (auto const& dropped : report.staleRecords) {
      bool const quarantined = std::any_of(
          chip.quarantined().begin(), chip.quarantined().end(),
          [&](chip::QuarantinedEntry const& q) { return q.inUse && q.handle == dropped.handle; });
      if (!quarantined) continue;
      char handle[16];
      std::snprintf(handle, sizeof handle, "%#x", dropped.handle);
      lost.push_back("key table " + keyTablePath + ": key " + std::to_string(dropped.key) +
                     " named " + (dropped.isDefault ? "default entry " : "entry ") + handle +
                     ", which the chip quarantined: its record " +
                     (core.readOnly() ? "stays (read-only start)" : "is dropped"));
   }
   all.insert(all.end() - (report.notes.empty() ? 0 : 1), lost.begin(), lost.end());
   return all;
}

std::vector<std::string> AgentStart::notes() const {
   return startNotes(*chip, *core, state.keyTablePath());
}

U64 AgentStart::staleRecords() const {
   return core->readOnly() ? core->startReport().dropped : 0;
}

U64 AgentStart::orphanEntries() const {
   return core->readOnly() ? core->startReport().adopted : 0;
}

std::vector<Command> const& commands() {
   static std::vector<Command> const all = {
       chipCreateCommand(),   chipDestroyCommand(),  chipShowCommand(), chipCheckCommand(),
       chipRepairCommand(),   setCommand(),          delCommand(),      defaultSetCommand(),
       defaultResetCommand(), showCommand(),         loadCommand(),     diffCommand(),
       clearCommand(),        serveCommand(),        statusCommand(),   stopCommand(),
       demoCommand(),         p4infoCommand(),
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
