#include "agent/cli/Format.h"

#include <iomanip>
#include <sstream>

namespace TwiceNatCli {

std::string handleText(U32 handle) {
   std::ostringstream t;
   t << "0x" << std::hex << handle;
   return t.str();
}

std::string actionText(ActionPtr const& action) {
   if (!action) return "-";
   std::optional<ActionValues> a = actionValuesOf(*action);
   if (!a) return "?";
   std::string params = paramsText(*a);
   return std::string(actionName(a->kind)) + (params.empty() ? "" : " " + params);
}

namespace {

// The widest parameters, "keyId=65535 rwId=65535 prot=255 frag=255 ecmpGroup=65535", and a gap.
constexpr int kParamsWidth = 57;

void printRow(std::ostream& os, std::string const& handle, AgentSession::Row const& r,
              bool isDefault) {
   std::string vrf = "-", dst = "-", src = "-", action = "-", params;
   if (auto const& m = r.entry.match(); m && !isDefault) {
      if (m->l3InfoVrfIdIsSet()) vrf = std::to_string(m->l3InfoVrfId());
      dst = dotted(m->outerIpv4HdrDip());
      src = dotted(m->outerIpv4HdrSip());
   }
   if (r.entry.action()) {
      if (auto a = actionValuesOf(*r.entry.action())) {
         action = actionName(a->kind);
         params = paramsText(*a);
      }
   }
   os << std::left << std::setw(11) << handle << std::setw(6) << vrf << std::setw(16) << dst
      << std::setw(16) << src << std::setw(7) << action << std::setw(kParamsWidth) << params
      << r.status << "\n";
}

}  // namespace

void printEntryTable(std::ostream& os, std::vector<AgentSession::Row> const& rows,
                     std::optional<AgentSession::Row> const& defaultRow) {
   os << std::left << std::setw(11) << "HANDLE" << std::setw(6) << "VRF" << std::setw(16)
      << "DESTINATION" << std::setw(16) << "SOURCE" << std::setw(7) << "ACTION"
      << std::setw(kParamsWidth) << "PARAMETERS"
      << "STATUS\n";
   for (AgentSession::Row const& r : rows)
      printRow(os, handleText(r.handle), r, false);
   if (defaultRow) printRow(os, "default", *defaultRow, true);
}

void printEntryText(std::ostream& os, std::vector<AgentSession::Row> const& rows) {
   for (AgentSession::Row const& r : rows) {
      if (!r.entry.empty()) os << r.entry << "\n";
   }
}

}  // namespace TwiceNatCli
