// set / del / default set / default reset: one entry at a time, named by its contents.
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"

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

int set(ParsedArgs const& args, GlobalOptions const& global) {
   MatchKey key = matchKeyFromArgs(args);
   ActionValues action = actionFromArgs(args);
   AgentStart agent(global);
   AgentSession& s = *agent.session;
   EntrySpec spec{s.fitted(key, true), action};
   AgentSession::Change change = s.program(spec);
   std::cout << (change == AgentSession::Change::added ? "added " : "changed ")
             << keyText(spec.match) << ": " << actionLine(action) << " (handle "
             << handleText(s.table().helper()->sdkHandles()->entry(s.find(spec.match))) << ")\n";
   return kExitOk;
}

int del(ParsedArgs const& args, GlobalOptions const& global) {
   MatchKey key = matchKeyFromArgs(args);
   AgentStart agent(global);
   AgentSession& s = *agent.session;
   key = s.fitted(key, true);
   s.remove(key);
   std::cout << "deleted " << keyText(key) << "\n";
   return kExitOk;
}

int defaultSet(ParsedArgs const& args, GlobalOptions const& global) {
   ActionValues action = actionFromArgs(args);
   AgentStart agent(global);
   agent.session->defaultIs(action);
   std::cout << "default action set: " << actionLine(action) << "\n";
   return kExitOk;
}

int defaultReset(ParsedArgs const&, GlobalOptions const& global) {
   AgentStart agent(global);
   if (agent.session->defaultReset()) {
      std::cout << "default action reset to onMiss\n";
   } else {
      std::cout << "the default action was never set: nothing to reset\n";
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
        "Adds an entry, or changes the action of the entry with these addresses and VRF.", opts},
       set};
}

Command delCommand() {
   return {{"del", "--dst A.B.C.D --src A.B.C.D [--vrf N]",
            "Deletes the entry with these addresses and VRF.", keyOptions()},
           del};
}

Command defaultSetCommand() {
   return {{"default set",
            "--action onMiss|hit|ecmp [--key-id N --rw-id N --prot N --frag N] [--next-hop N | "
            "--ecmp-group N]",
            "Sets the table's default action.", actionOptions()},
           defaultSet};
}

Command defaultResetCommand() {
   return {{"default reset", "", "Puts the table's default action back to onMiss.", {}},
           defaultReset};
}

}  // namespace TwiceNatCli
