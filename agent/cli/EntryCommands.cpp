// set / del / default set / default reset: one entry at a time, named by its contents.
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::Change;

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

// One update through the agent; its reply, or the failure's exit status.
std::optional<Reply> update(GlobalOptions const& global, Op op, EntrySpec const& entry,
                            int& status) {
   AgentLink agent(global, true);
   Request q{op};
   q.entry = entry;
   Reply r = agent.call(q);
   status = r.status.ok() ? kExitOk : failed(r.status, std::cerr);
   if (!r.status.ok()) return std::nullopt;
   return r;
}

int set(ParsedArgs const& args, GlobalOptions const& global) {
   EntrySpec const e{matchKeyFromArgs(args), actionFromArgs(args)};
   int status = 0;
   if (auto r = update(global, Op::program, e, status)) {
      std::cout << (r->programmed.change == Change::added ? "added " : "changed ")
                << keyText(r->taken.value_or(e.match)) << ": " << actionText(e.action)
                << " (handle " << handleText(r->programmed.handle) << ")\n";
   }
   return status;
}

int del(ParsedArgs const& args, GlobalOptions const& global) {
   EntrySpec e;
   e.match = matchKeyFromArgs(args);
   int status = 0;
   if (auto r = update(global, Op::remove, e, status)) {
      std::cout << "deleted " << keyText(r->taken.value_or(e.match)) << "\n";
   }
   return status;
}

int defaultSet(ParsedArgs const& args, GlobalOptions const& global) {
   EntrySpec e;
   e.action = actionFromArgs(args);
   int status = 0;
   if (update(global, Op::defaultSet, e, status)) {
      std::cout << "default action set: " << actionText(e.action) << "\n";
   }
   return status;
}

int defaultReset(ParsedArgs const&, GlobalOptions const& global) {
   int status = 0;
   if (auto r = update(global, Op::defaultReset, {}, status)) {
      std::cout << (r->programmed.change == Change::none
                        ? "the default action was never set: nothing to reset\n"
                        : "default action reset to onMiss\n");
   }
   return status;
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
       set,
       true};
}

Command delCommand() {
   return {{"del", "--dst A.B.C.D --src A.B.C.D [--vrf N]", "Deletes an entry.",
            "Deletes the entry with these addresses and VRF.", keyOptions()},
           del,
           true};
}

Command defaultSetCommand() {
   return {
       {"default set",
        "--action onMiss|hit|ecmp [--key-id N --rw-id N --prot N --frag N] [--next-hop N | "
        "--ecmp-group N]",
        "Sets the table's default action.", "Sets the table's default action.", actionOptions()},
       defaultSet,
       true};
}

Command defaultResetCommand() {
   return {{"default reset",
            "",
            "Puts the default action back to onMiss.",
            "Puts the table's default action back to onMiss.",
            {}},
           defaultReset,
           true};
}

}  // namespace TwiceNatCli
