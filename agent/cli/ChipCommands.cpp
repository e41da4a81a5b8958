// chip create / destroy / show: the simulated chip and the key table that goes with it.
#include <iostream>

#include <nlohmann/json.hpp>

#include "agent/KeyTable.h"
#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "chip/ChipException.h"

namespace TwiceNatCli {

U64 keyTableCapacity(U32 chipCapacity) {
   return std::min<U64>(U64(chipCapacity) + chip::kMaxPipes + 1,
                        TwiceNatAgent::KeyTable::kMaxCapacity);
}

// chip create, destroy and repair replace the state under an agent's feet: never while one
// serves.
StateLock lockedForChange(StateDir const& state, GlobalOptions const& global) {
   Reach r = reach(state, StateLock::Mode::write, global);
   if (r.agent) {
      throw InputError("an agent serves " + state.dir + ": stop it first with 'twicenat stop'");
   }
   return std::move(r.lock);
}

namespace {

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
   state.create();
   StateLock lock = lockedForChange(state, global);
   if (state.chipExists()) {
      throw InputError("a chip already exists in " + state.dir +
                       " (remove it first with 'twicenat chip destroy')");
   }
   // The key table first: a kill before the chip is made leaves no chip, which the next
   // create replaces. Each file's space is reserved, so a full file system refuses here.
   TwiceNatAgent::KeyTable::destroy(state.keyTablePath());
   TwiceNatAgent::KeyTable::create(state.keyTablePath(), keyTableCapacity(p.capacity));
   try {
      chip::Chip::create(state.chipPath(), p);
      AgentStart agent(global);  // sets the table up in the chip
      std::cout << "created a chip in " << state.dir << ": " << profileText(p) << "\n"
                << "table twiceNatAddrOnly set up through the " << agent.core->backEnd()
                << " back end\n";
   } catch (...) {
      TwiceNatAgent::KeyTable::destroy(state.keyTablePath());
      chip::Chip::destroy(state.chipPath());
      throw;
   }
   return kExitOk;
}

// Another user's chip is refused as every start refuses it, also when root asks.
int chipDestroy(ParsedArgs const&, GlobalOptions const& global) {
   StateDir state = stateDirOf(global.state);
   state.check();
   if (!state.chipExists()) throw InputError("no chip in " + state.dir + " to destroy");
   StateLock lock = lockedForChange(state, global);
   if (!state.chipExists()) throw InputError("no chip in " + state.dir + " to destroy");
   chip::Chip::destroy(state.chipPath());
   TwiceNatAgent::KeyTable::destroy(state.keyTablePath());
   std::cout << "destroyed the chip in " << state.dir << " and its key table\n";
   return kExitOk;
}

int chipShow(ParsedArgs const& args, GlobalOptions const& global) {
   AgentLink agent(global, false);
   Reply const r = agent.call(Request{Op::chip});
   if (!r.status.ok()) return failed(r.status, std::cerr);
   nlohmann::ordered_json const j = nlohmann::ordered_json::parse(r.chip);
   if (args.has("json")) {
      std::cout << j.dump(2) << "\n";
      return kExitOk;
   }
   auto const& p = j["profile"];
   std::cout << "chip         " << j["chip"].get<std::string>() << "\n"
             << "profile      capacity " << p["capacity"] << ", " << p["pipes"]
             << " pipe(s), VRF key field " << (p["vrfKeyField"].get<bool>() ? "yes" : "no")
             << ", BfRt " << (p["bfrt"].get<bool>() ? "yes" : "no") << ", action profile table "
             << (p["actionProfileTable"].get<bool>() ? "yes" : "no") << "\n"
             << "table        twiceNatAddrOnly through the " << j["backEnd"].get<std::string>()
             << " back end, device " << int(TwiceNatAgent::AgentCore::kDevice) << ", all pipes\n"
             << "entry scope  " << j["entryScope"].get<std::string>() << "\n"
             << "used         " << j["entries"] << " of " << p["capacity"] << " entries\n";
   for (auto const& pipe : j["pipes"]) {
      std::string const name =
          pipe["pipe"].is_string() ? "all pipes" : "pipe " + pipe["pipe"].dump() + "   ";
      std::cout << "  " << name << "  " << pipe["entries"] << " entries, default "
                << pipe["default"].get<std::string>() << "\n";
   }
   auto const& k = j["keyTable"];
   std::cout << "key table    " << k["path"].get<std::string>() << ": " << k["records"] << " of "
             << k["capacity"] << " records, highest key " << k["highestKey"] << "\n";
   // Only a read-only start leaves these: any other has reconciled them.
   U64 const stale = j["staleRecords"], orphans = j["orphanEntries"];
   if (stale) {
      std::cout << "warning      " << stale
                << " key record(s) name entries the chip no longer holds\n";
   }
   if (orphans) {
      std::cout << "warning      " << orphans << " chip entr"
                << (orphans == 1 ? "y has" : "ies have") << " no key record\n";
   }
   if (j.contains("startNote"))
      std::cout << "start        " << j["startNote"].get<std::string>() << "\n";
   return kExitOk;
}

}  // namespace

std::string chipFigures(AgentStart const& a) {
   chip::Chip const& c = *a.chip;
   TwiceNatAgent::AgentCore const& core = *a.core;
   chip::Profile const& p = c.profile();
   bool const allPipes = c.scope() == chip::Scope::allPipes;
   TwiceNatAgent::AgentCore::StartReport const& start = core.startReport();
   TwiceNatAgent::AgentCore::KeyTableFigures const k = core.keyTable();
   nlohmann::ordered_json j = {
       {"chip", c.path()},
       {"profile",
        {{"capacity", p.capacity},
         {"pipes", p.pipes},
         {"vrfKeyField", p.vrfKeyField},
         {"bfrt", p.bfrt},
         {"actionProfileTable", p.actionProfileTable}}},
       {"backEnd", core.backEnd()},
       {"entryScope", allPipes ? "all pipes" : "single pipe"},
       {"entries", c.count()},
       {"tableEntries", core.count()},
       {"keyTable",
        {{"path", k.path},
         {"records", k.records},
         {"capacity", k.capacity},
         {"highestKey", k.highestKey}}},
       {"staleRecords", a.staleRecords()},
       {"orphanEntries", a.orphanEntries()},
       {"reconciled",
        {{"adopted", start.adopted},
         {"dropped", start.dropped},
         {"rewalked", start.rewalked},
         {"readOnly", core.readOnly()}}},
   };
   nlohmann::ordered_json pipes = nlohmann::ordered_json::array();
   if (allPipes) {
      pipes.push_back({{"pipe", "all"},
                       {"entries", c.count(chip::kAllPipes)},
                       {"default", recordText(c.defaultAction(chip::kAllPipes))}});
   } else {
      for (U16 pipe = 0; pipe < c.pipes(); ++pipe) {
         pipes.push_back({{"pipe", pipe},
                          {"entries", c.count(pipe)},
                          {"default", recordText(c.defaultAction(pipe))}});
      }
   }
   j["pipes"] = pipes;
   if (start.reconciledAnything() && !start.notes.empty()) j["startNote"] = start.notes.back();
   return j.dump();
}

Command chipCreateCommand() {
   return {{"chip create",
            "[--capacity N] [--pipes N] [--no-vrf] [--no-bfrt] [--action-profile]",
            "Creates a simulated chip and its key table.",
            "Creates a simulated chip and an empty key table in the state folder, and sets the "
            "table up in it (refused while an agent serves the folder).",
            {{"capacity", "N", "entries of all pipes together (default 65536)"},
             {"pipes", "N", "pipes, 1 to 16 (default 4)"},
             {"no-vrf", "", "the table has no VRF key field"},
             {"no-bfrt", "", "the chip offers only the PD functions (no BfRt runtime)"},
             {"action-profile", "", "BfRt also offers the table's action profile"}}},
           chipCreate};
}

Command chipDestroyCommand() {
   return {{"chip destroy",
            "",
            "Removes the chip and its key table.",
            "Removes the chip and its key table from the state folder (refused while an agent "
            "serves it).",
            {}},
           chipDestroy};
}

Command chipShowCommand() {
   return {{"chip show",
            "[--json]",
            "Shows the chip, its entry counts and the key table.",
            "Shows the chip's profile, entry scope, entries used per pipe, default action and "
            "key table; with --json, one JSON object for scripts.",
            {{"json", "", "the same as one JSON object"}}},
           chipShow};
}

}  // namespace TwiceNatCli
