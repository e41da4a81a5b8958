// chip create / destroy / show: the simulated chip and the key table that goes with it.
#include <iostream>

#include "agent/KeyTable.h"
#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "chip/ChipException.h"

namespace TwiceNatCli {

namespace {

// Room for every entry and the default of every pipe.
U64 keyTableCapacity(U32 chipCapacity) {
   return std::min<U64>(U64(chipCapacity) + chip::kMaxPipes + 1,
                        TwiceNatAgent::KeyTable::kMaxCapacity);
}

std::string profileText(chip::Profile const& p) {
   return "capacity " + std::to_string(p.capacity) + ", " + std::to_string(p.pipes) +
          " pipe(s), VRF key field " + (p.vrfKeyField ? "yes" : "no") + ", BfRt " +
          (p.bfrt ? "yes" : "no") + ", action profile table " +
          (p.actionProfileTable ? "yes" : "no");
}

std::string recordText(chip::ActionRec const& a) {
   ActionValues v;
   v.kind = a.action == chip::Action::hit       ? ActionKind::hit
            : a.action == chip::Action::hitEcmp ? ActionKind::ecmp
                                                : ActionKind::onMiss;
   v.keyId = U16(a.params[0]);
   v.rwId = U16(a.params[1]);
   v.prot = U8(a.params[2]);
   v.frag = U8(a.params[3]);
   v.target = U16(a.params[4]);
   std::string params = paramsText(v);
   return std::string(actionName(v.kind)) + (params.empty() ? "" : " " + params);
}

int chipCreate(ParsedArgs const& args, GlobalOptions const& global) {
   chip::Profile p;
   p.capacity = U32(args.number("capacity", chip::kMaxCapacity, p.capacity));
   p.pipes = U32(args.number("pipes", chip::kMaxPipes, p.pipes));
   p.vrfKeyField = !args.has("no-vrf");
   p.bfrt = !args.has("no-bfrt");
   p.actionProfileTable = args.has("action-profile");
   try {
      chip::validate(p);
   } catch (chip::ChipException const& e) {
      throw InputError(std::string("bad chip profile: ") + e.what());
   }
   StateDir state = stateDirOf(global.state);
   if (state.chipExists()) {
      throw InputError("a chip already exists in " + state.dir +
                       " (remove it first with 'twicenat chip destroy')");
   }
   state.create();
   TwiceNatAgent::KeyTable::destroy(state.keyTablePath());
   chip::Chip::create(state.chipPath(), p);
   try {
      TwiceNatAgent::KeyTable::create(state.keyTablePath(), keyTableCapacity(p.capacity));
      AgentStart agent(global);  // sets the table up in the chip
      std::cout << "created a chip in " << state.dir << ": " << profileText(p) << "\n"
                << "table twiceNatAddrOnly set up through the " << agent.session->backEnd()
                << " back end\n";
   } catch (...) {
      TwiceNatAgent::KeyTable::destroy(state.keyTablePath());
      chip::Chip::destroy(state.chipPath());
      throw;
   }
   return kExitOk;
}

int chipDestroy(ParsedArgs const&, GlobalOptions const& global) {
   StateDir state = stateDirOf(global.state);
   if (!state.chipExists()) throw InputError("no chip in " + state.dir + " to destroy");
   chip::Chip::destroy(state.chipPath());
   TwiceNatAgent::KeyTable::destroy(state.keyTablePath());
   std::cout << "destroyed the chip in " << state.dir << " and its key table\n";
   return kExitOk;
}

int chipShow(ParsedArgs const&, GlobalOptions const& global) {
   AgentStart agent(global);
   chip::Chip const& c = *agent.chip;
   AgentSession const& s = *agent.session;
   bool allPipes = c.scope() == chip::Scope::allPipes;
   std::cout << "chip         " << c.path() << "\n"
             << "profile      " << profileText(c.profile()) << "\n"
             << "table        twiceNatAddrOnly through the " << s.backEnd() << " back end, device "
             << int(AgentSession::kDevice) << ", all pipes\n"
             << "entry scope  " << (allPipes ? "all pipes" : "single pipe") << "\n"
             << "used         " << c.count() << " of " << c.capacity() << " entries\n";
   if (allPipes) {
      std::cout << "  all pipes  " << c.count(chip::kAllPipes) << " entries, default "
                << recordText(c.defaultAction(chip::kAllPipes)) << "\n";
   } else {
      for (U16 pipe = 0; pipe < c.pipes(); ++pipe) {
         std::cout << "  pipe " << pipe << "     " << c.count(pipe) << " entries, default "
                   << recordText(c.defaultAction(pipe)) << "\n";
      }
   }
   TwiceNatAgent::KeyManager const& k = s.keys();
   std::cout << "key table    " << k.table().path() << ": " << k.size() << " of " << k.capacity()
             << " records, highest key " << k.highestKey() << "\n";
   if (s.staleRecords()) {
      std::cout << "warning      " << s.staleRecords()
                << " key record(s) name entries the chip no longer holds\n";
   }
   return kExitOk;
}

}  // namespace

Command chipCreateCommand() {
   return {{"chip create",
            "[--capacity N] [--pipes N] [--no-vrf] [--no-bfrt] [--action-profile]",
            "Creates a simulated chip and an empty key table in the state folder, and sets the "
            "table up in it.",
            {{"capacity", "N", "entries of all pipes together (default 65536)"},
             {"pipes", "N", "pipes, 1 to 16 (default 4)"},
             {"no-vrf", "", "the table has no VRF key field"},
             {"no-bfrt", "", "the chip offers only the PD functions (no BfRt runtime)"},
             {"action-profile", "", "BfRt also offers the table's action profile"}}},
           chipCreate};
}

Command chipDestroyCommand() {
   return {{"chip destroy", "", "Removes the chip and its key table from the state folder.", {}},
           chipDestroy};
}

Command chipShowCommand() {
   return {{"chip show",
            "",
            "Shows the chip's profile, entry scope, entries used per pipe, default action and "
            "key table.",
            {}},
           chipShow};
}

}  // namespace TwiceNatCli
