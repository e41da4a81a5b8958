// show: the table's entries as the chip holds them, readable or in the system's text form.
#include <ostream>

#include <nlohmann/json.hpp>

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

nlohmann::ordered_json actionJson(ActionValues const& a) {
   nlohmann::ordered_json j = {{"action", actionName(a.kind)}};
   if (a.kind == ActionKind::onMiss) return j;
   j["keyId"] = a.keyId;
   j["rwId"] = a.rwId;
   j["prot"] = a.prot;
   j["frag"] = a.frag;
   j[a.kind == ActionKind::hit ? "nextHop" : "ecmpGroup"] = a.target;
   return j;
}

// One entry for scripts; "action" is null when the chip no longer holds the entry.
nlohmann::ordered_json rowJson(AgentSession::Row const& r, bool withKey) {
   nlohmann::ordered_json j = {{"handle", r.handle}, {"status", r.status}};
   if (withKey && r.match) {
      MatchKey const k = matchKeyOf(*r.match);
      j["dst"] = dotted(k.dip);
      j["src"] = dotted(k.sip);
      j["vrf"] = k.vrfGiven ? nlohmann::ordered_json(k.vrf) : nlohmann::ordered_json();
   }
   std::optional<ActionValues> a;
   if (r.entry.action()) a = actionValuesOf(*r.entry.action());
   if (a) {
      j.update(actionJson(*a));
   } else {
      j["action"] = nullptr;
   }
   return j;
}

int show(ParsedArgs const& args, AgentSession& s, std::ostream& out, std::ostream&) {
   Filter f;
   if (args.has("dst")) f.dst = args.address("dst");
   if (args.has("src")) f.src = args.address("src");
   if (args.has("vrf")) f.vrf = U16(args.number("vrf", 0xFFFF, 0));
   if (auto a = args.value("action")) f.action = parseActionKind(*a);
   if (f.vrf && !s.vrfKeyField()) {
      throw InputError("this chip's table has no VRF key field: --vrf cannot filter it");
   }
   std::vector<AgentSession::Row> rows = s.entries([&f](MatchKey const& k) { return f.keeps(k); });
   std::erase_if(rows, [&f](AgentSession::Row const& r) { return !f.keeps(r); });
   if (args.has("text") && args.has("json"))
      throw InputError("--text and --json exclude each other");
   if (args.has("text")) {
      printEntryText(out, rows);
      return kExitOk;
   }
   bool filtered = f.dst || f.src || f.vrf || f.action;
   std::optional<AgentSession::Row> def;
   if (!filtered) def = s.defaultEntry();
   if (args.has("json")) {
      nlohmann::ordered_json j = {{"entries", nlohmann::ordered_json::array()},
                                  {"matching", rows.size()},
                                  {"total", s.entryCount()},
                                  {"staleRecords", s.staleRecords()}};
      for (AgentSession::Row const& r : rows)
         j["entries"].push_back(rowJson(r, true));
      j["default"] = def ? rowJson(*def, false) : nlohmann::ordered_json();
      out << j.dump(2) << "\n";
      return kExitOk;
   }
   printEntryTable(out, rows, def);
   out << rows.size() << (filtered ? " matching" : "") << " entr"
       << (rows.size() == 1 ? "y" : "ies") << " of " << s.entryCount() << "\n";
   if (s.staleRecords()) {
      out << "warning: " << s.staleRecords()
          << " key record(s) name entries the chip no longer holds\n";
   }
   return kExitOk;
}

}  // namespace

Command showCommand() {
   return {{"show",
            "[--dst A.B.C.D] [--src A.B.C.D] [--vrf N] [--action onMiss|hit|ecmp] [--text | "
            "--json]",
            "Shows the table's entries.",
            "Shows the table's entries as read back from the chip: handle, VRF, addresses, "
            "action, parameters and status (programmed by this run, or found by the resync at "
            "start), then the default action. With --text, one entry per line in the system's "
            "text form, which 'load' reads back; with --json, one JSON object for scripts.",
            {{"dst", "A.B.C.D", "only entries with this destination"},
             {"src", "A.B.C.D", "only entries with this source"},
             {"vrf", "N", "only entries in this VRF"},
             {"action", "onMiss|hit|ecmp", "only entries with this action"},
             {"text", "", "the system's text form, one entry per line"},
             {"json", "", "entries, default and counts as one JSON object"}}},
           nullptr,
           show};
}

}  // namespace TwiceNatCli
