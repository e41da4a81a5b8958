// set / del / default set / default reset: one entry at a time, named by its contents.
#include <ostream>

#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

namespace {

std::vector<OptionSpec> keyOptions() {
   return {{"dst", "A.B.C.D", "outer IPv4 destination address"},
           {"src", "A.B.C.D", "outer IPv4 source address"},
           {"vrf", "N", "VRF, 0 to 65535 (only on a chip whose table has the VRF key field)"}};
}

std::vector<OptionSpec> actionOptions() {
   return {{"action", "onMiss|hit|ecmp", "the entry's action"},
           {"key-id", "N", "key id, 0 to 65535 (hit, ecmp; default 0)"},
           {"rw-id", "N", "rewrite id, 0 to 65535 (hit, ecmp; default 0)"},
           {"prot", "N", "protocol, 0 to 255 (hit, ecmp; default 0)"},
           {"frag", "N", "fragment, 0 to 255 (hit, ecmp; default 0)"},
           {"next-hop", "N", "next hop, 0 to 65535 (hit)"},
           {"ecmp-group", "N", "ECMP group, 0 to 65535 (ecmp)"}};
}

std::string actionLine(ActionValues const& a) {
   std::string params = paramsText(a);
   return std::string(actionName(a.kind)) + (params.empty() ? "" : " " + params);
}

// The key as the table takes it; a VRF on a table without the field is bad input.
MatchKey fitted(TwiceNatAgent::AgentCore const& core, MatchKey key) {
   check(core.fit(key, true));
   return key;
}

int set(ParsedArgs const& args, AgentStart& agent, std::ostream& out, std::ostream&) {
   MatchKey key = matchKeyFromArgs(args);
   ActionValues action = actionFromArgs(args);
   EntrySpec spec{fitted(*agent, key), action};
   TwiceNatAgent::Programmed const done = agent->program(spec);
   check(done.status);
   out << (done.change == TwiceNatAgent::Change::added ? "added " : "changed ")
       << keyText(spec.match) << ": " << actionLine(action) << " (handle "
       << handleText(done.handle) << ")\n";
   return kExitOk;
}

int del(ParsedArgs const& args, AgentStart& agent, std::ostream& out, std::ostream&) {
   MatchKey key = fitted(*agent, matchKeyFromArgs(args));
   check(agent->remove(key).status);
   out << "deleted " << keyText(key) << "\n";
   return kExitOk;
}

int defaultSet(ParsedArgs const& args, AgentStart& agent, std::ostream& out, std::ostream&) {
   ActionValues action = actionFromArgs(args);
   check(agent->defaultIs(action).status);
   out << "default action set: " << actionLine(action) << "\n";
   return kExitOk;
}

int defaultReset(ParsedArgs const&, AgentStart& agent, std::ostream& out, std::ostream&) {
   TwiceNatAgent::Programmed const done = agent->defaultReset();
   check(done.status);
   if (done.change != TwiceNatAgent::Change::none) {
      out << "default action reset to onMiss\n";
   } else {
      out << "the default action was never set: nothing to reset\n";
   }
   return kExitOk;
}

}  // namespace

Command setCommand() {
   std::vector<OptionSpec> opts = keyOptions();
   for (OptionSpec const& o : actionOptions())
      opts.push_back(o);
   return {
       {"set",
        "--dst A.B.C.D --src A.B.C.D [--vrf N] --action onMiss|hit|ecmp [--key-id N --rw-id N "
        "--prot N --frag N] [--next-hop N | --ecmp-group N]",
        "Adds an entry or changes one.",
        "Adds an entry, or changes the action of the entry with these addresses and VRF.", opts},
       nullptr,
       set,
       true};
}

Command delCommand() {
   return {{"del", "--dst A.B.C.D --src A.B.C.D [--vrf N]", "Deletes an entry.",
            "Deletes the entry with these addresses and VRF.", keyOptions()},
           nullptr,
           del,
           true};
}

Command defaultSetCommand() {
   return {
       {"default set",
        "--action onMiss|hit|ecmp [--key-id N --rw-id N --prot N --frag N] [--next-hop N | "
        "--ecmp-group N]",
        "Sets the table's default action.", "Sets the table's default action.", actionOptions()},
       nullptr,
       defaultSet,
       true};
}

Command defaultResetCommand() {
   return {{"default reset",
            "",
            "Puts the default action back to onMiss.",
            "Puts the table's default action back to onMiss.",
            {}},
           nullptr,
           defaultReset,
           true};
}

}  // namespace TwiceNatCli
