// show: the table's entries as the chip holds them, readable or in the system's text form.
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"

namespace TwiceNatCli {

namespace {

struct Filter {
   std::optional<U32> dst, src;
   std::optional<U16> vrf;
   std::optional<ActionKind> action;

   bool keeps(MatchKey const& k) const {
      return (!dst || k.dip == *dst) && (!src || k.sip == *src) && (!vrf || k.vrf == *vrf);
   }
   bool keeps(AgentSession::Row const& r) const {
      if (!action) return true;
      if (!r.entry.action()) return false;
      auto a = actionValuesOf(*r.entry.action());
      return a && a->kind == *action;
   }
};

int show(ParsedArgs const& args, GlobalOptions const& global) {
   Filter f;
   if (args.has("dst")) f.dst = args.address("dst");
   if (args.has("src")) f.src = args.address("src");
   if (args.has("vrf")) f.vrf = U16(args.number("vrf", 0xFFFF, 0));
   if (auto a = args.value("action")) f.action = parseActionKind(*a);
   AgentStart agent(global);
   AgentSession& s = *agent.session;
   if (f.vrf && !s.vrfKeyField()) {
      throw InputError("this chip's table has no VRF key field: --vrf cannot filter it");
   }
   std::vector<AgentSession::Row> rows = s.entries([&f](MatchKey const& k) { return f.keeps(k); });
   std::erase_if(rows, [&f](AgentSession::Row const& r) { return !f.keeps(r); });
   if (args.has("text")) {
      printEntryText(std::cout, rows);
      return kExitOk;
   }
   bool filtered = f.dst || f.src || f.vrf || f.action;
   std::optional<AgentSession::Row> def;
   if (!filtered) def = s.defaultEntry();
   printEntryTable(std::cout, rows, def);
   std::cout << rows.size() << (filtered ? " matching" : "") << " entr"
             << (rows.size() == 1 ? "y" : "ies") << " of " << s.entryCount() << "\n";
   if (s.staleRecords()) {
      std::cout << "warning: " << s.staleRecords()
                << " key record(s) name entries the chip no longer holds\n";
   }
   return kExitOk;
}

}  // namespace

Command showCommand() {
   return {{"show",
            "[--dst A.B.C.D] [--src A.B.C.D] [--vrf N] [--action onMiss|hit|ecmp] [--text]",
            "Shows the table's entries as read back from the chip: handle, VRF, addresses, "
            "action, parameters and status (programmed by this run, or found by the resync at "
            "start), then the default action. With --text, one entry per line in the system's "
            "text form, which 'load' reads back.",
            {{"dst", "A.B.C.D", "only entries with this destination"},
             {"src", "A.B.C.D", "only entries with this source"},
             {"vrf", "N", "only entries in this VRF"},
             {"action", "onMiss|hit|ecmp", "only entries with this action"},
             {"text", "", "the system's text form, one entry per line"}}},
           show};
}

}  // namespace TwiceNatCli
