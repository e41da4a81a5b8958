// chip check / chip repair: what damage the chip and its key table hold, and the repair of
// what every start refuses. A start itself quarantines a damaged entry and clears a damaged
// key record; it refuses a chip whose header lost its magic number or both its copies, a chip
// file of another size, and a key table that is missing or no longer a key table. A repair
// takes those when what is left identifies the chip, and makes a new key table when the old
// one cannot be used (the start that follows takes up the chip's entries into it).
#include <filesystem>
#include <iostream>
#include <map>

#include "agent/KeyTable.h"
#include "agent/cli/Link.h"
#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"
#include "chip/ChipException.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::KeyTable;
using TwiceNatAgent::KeyTableAccess;
using TwiceNatAgent::KeyTableRefused;
using TwiceNatAgent::KeyTableRepair;

std::string hex(U32 v) {
   char buf[16];
   std::snprintf(buf, sizeof buf, "%#x", v);
   return buf;
}

bool exists(std::string const& path) {
   std::error_code ec;
   return std::filesystem::exists(path, ec);
}

// The keys whose records name the entries the chip quarantined: each goes with its entry.
std::vector<std::string> quarantinedKeys(chip::Chip const& c, KeyTable const& kt) {
   std::map<U32, bool> lost;
   for (chip::QuarantinedEntry const& q : c.quarantined())
      if (q.inUse) lost[q.handle] = q.isDefault;
   std::vector<std::string> lines;
   if (lost.empty()) return lines;
   for (U64 s = kt.nextTakenSlot(0); s < kt.capacity(); s = kt.nextTakenSlot(s + 1)) {
      U32 const handle = kt.recordAsStored(s + 1).sdkEntryHandle;
      auto it = lost.find(handle);
      if (it == lost.end()) continue;
      lines.push_back("key table " + kt.path() + ": key " + std::to_string(s + 1) + " names " +
                      (it->second ? "default entry " : "entry ") + hex(handle) +
                      ", which the chip quarantined: a start drops its record");
   }
   return lines;
}

int chipCheck(ParsedArgs const&, GlobalOptions const& global) {
   StateDir const state = stateDirOf(global.state);
   state.check();
   if (!state.chipExists()) throw InputError("no chip in " + state.dir + " to check");
   Reach r = reach(state, StateLock::Mode::read, global);
   if (r.agent) {
      throw InputError("an agent serves " + state.dir +
                       ": its start took up the damage it found; stop it to check the files");
   }
   // Read-only opens that take whatever a repair takes: the file is left as it is.
   auto c =
       chip::Chip::open(state.chipPath(), chip::ChipAccess::readOnly, chip::ChipRepair::header);
   std::vector<std::string> lines = c->openNotes();
   bool damaged = c->damaged();
   bool startsRefuse = c->needsRepair();
   std::string const keys = state.keyTablePath();
   std::unique_ptr<KeyTable> kt;
   if (!exists(keys)) {
      lines.push_back("key table " + keys + " is missing");
      damaged = startsRefuse = true;
   } else {
      try {
         kt = KeyTable::open(keys, KeyTableAccess::readOnly, KeyTableRepair::header);
         lines.insert(lines.end(), kt->openNotes().begin(), kt->openNotes().end());
         damaged = damaged || kt->damaged();
         startsRefuse = startsRefuse || kt->needsRepair();
      } catch (KeyTableRefused const& e) {
         if (!e.replaceable()) throw;
         lines.push_back(e.msg() +
                         ": a repair makes a new key table, which takes up the chip's "
                         "entries");
         damaged = startsRefuse = true;
      }
   }
   if (kt && kt->owner() != 0 && kt->owner() != c->identity()) {
      throw KeyTableRefused("key table " + keys + " belongs to another chip than " +
                            state.chipPath());
   }
   if (kt) {
      std::vector<std::string> const named = quarantinedKeys(*c, *kt);
      lines.insert(lines.end(), named.begin(), named.end());
   }
   for (std::string const& line : lines)
      std::cout << line << "\n";
   if (startsRefuse) {
      std::cout << "chip check: damage found that every start refuses: 'twicenat chip repair' "
                   "repairs it as above\n";
   } else if (damaged) {
      std::cout << "chip check: damage found: the next start quarantines it as above ('twicenat "
                   "chip repair' does it now)\n";
   } else if (!lines.empty()) {
      std::cout << "chip check: nothing is damaged; the next start finishes what a kill left, "
                   "as above\n";
   } else {
      std::cout << "chip check: the chip in " << state.dir << " (" << c->count()
                << " entries) and its key table (" << kt->count() << " records) are whole\n";
   }
   return damaged ? kExitSdkFailure : kExitOk;
}

int chipRepair(ParsedArgs const&, GlobalOptions const& global) {
   StateDir const state = stateDirOf(global.state);
   state.check();
   if (!state.chipExists()) throw InputError("no chip in " + state.dir + " to repair");
   StateLock lock = lockedForChange(state, global);
   auto c =
       chip::Chip::open(state.chipPath(), chip::ChipAccess::readWrite, chip::ChipRepair::header);
   // The key table: its magic number restored when the rest of it checks, else made anew when
   // it is missing or no key table any more.
   std::string const keys = state.keyTablePath();
   std::vector<std::string> lines;
   std::string renewal = exists(keys) ? "" : "key table " + keys + " was missing";
   if (renewal.empty()) {
      try {
         auto kt = KeyTable::open(keys, KeyTableAccess::readWrite, KeyTableRepair::header);
         lines = kt->openNotes();
      } catch (KeyTableRefused const& e) {
         if (!e.replaceable()) throw;
         renewal = e.msg();
      }
   }
   if (!renewal.empty()) {
      KeyTable::destroy(keys);
      KeyTable::create(keys, keyTableCapacity(c->capacity()));
      lines.push_back(renewal + ": made a new one");
   }
   SdkLibrary sdk;
   chip::ChipInventory const inventory(*c);
   std::unique_ptr<TwiceNatAgent::AgentCore> core = coreOver(*c, inventory, keys, sdk, false);
   std::vector<std::string> const notes = startNotes(*c, *core, keys);
   lines.insert(lines.begin(), notes.begin(), notes.end() - 1);
   if (core->startReport().reconciledAnything()) lines.push_back(notes.back());
   for (std::string const& line : lines)
      std::cout << line << "\n";
   if (lines.empty()) {
      std::cout << "chip repair: nothing to repair in " << state.dir << "\n";
      return kExitOk;
   }
   U64 lost = 0;
   for (chip::QuarantinedEntry const& q : c->quarantined())
      lost += q.inUse;
   std::cout << "chip repair: " << state.dir << " repaired: " << core->count()
             << " entries serve, " << lost << " quarantined\n";
   return kExitOk;
}

}  // namespace

Command chipCheckCommand() {
   return {{"chip check",
            "",
            "Reports damage to the chip and its key table, changing nothing.",
            "Opens the chip and its key table read-only and prints what a start would repair "
            "or quarantine, one line each, then a verdict. Exit status 0: nothing is damaged "
            "(what a kill left is finished by the next start); 1: damage was found, which the "
            "next start quarantines or, where the verdict says every start refuses the state, "
            "'twicenat chip repair' repairs; 2: the chip file cannot be identified as a chip. "
            "Refused while an agent serves the folder.",
            {}},
           chipCheck};
}

Command chipRepairCommand() {
   return {{"chip repair",
            "",
            "Repairs the chip and its key table where a start refuses them.",
            "Quarantines every damaged entry, as a start does, and repairs what every start "
            "refuses: a chip header whose magic number or both copies are damaged when what "
            "is left of them identifies the chip, a chip file cut short or grown (slots cut "
            "off are lost), a key table whose magic number is damaged; a key table that is "
            "missing or no key table any more is made anew and takes up the chip's entries. "
            "Prints what it did, one line each (refused while an agent serves the folder).",
            {}},
           chipRepair};
}

}  // namespace TwiceNatCli
