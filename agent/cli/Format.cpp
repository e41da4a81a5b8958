#include "agent/cli/Format.h"

#include <iomanip>
#include <sstream>

#include "agent/cli/InputError.h"
#include "agent/cli/SdkFailure.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatCli {

using TwiceNatAgent::EntryOrigin;

std::string handleText(U32 handle) {
   std::ostringstream t;
   t << "0x" << std::hex << handle;
   return t.str();
}

std::string actionText(ActionValues const& a) {
   std::string const params = paramsText(a);
   return std::string(actionName(a.kind)) + (params.empty() ? "" : " " + params);
}

namespace {

// The widest parameters, "keyId=65535 rwId=65535 prot=255 frag=255 ecmpGroup=65535", and a gap.
constexpr int kParamsWidth = 57;

}  // namespace

void printTableHeader(std::ostream& os) {
   os << std::left << std::setw(11) << "HANDLE" << std::setw(6) << "VRF" << std::setw(16)
      << "DESTINATION" << std::setw(16) << "SOURCE" << std::setw(7) << "ACTION"
      << std::setw(kParamsWidth) << "PARAMETERS"
      << "STATUS\n";
}

void printTableRow(std::ostream& os, EntryRow const& r, bool isDefault) {
   std::string vrf = "-", dst = "-", src = "-", action = "-", params;
   if (r.origin != EntryOrigin::missingOnChip) {
      if (!isDefault) {
         if (r.entry.match.vrfGiven) vrf = std::to_string(r.entry.match.vrf);
         dst = dotted(r.entry.match.dip);
         src = dotted(r.entry.match.sip);
      }
      action = actionName(r.entry.action.kind);
      params = paramsText(r.entry.action);
   }
   os << std::left << std::setw(11) << (isDefault ? "default" : handleText(r.handle))
      << std::setw(6) << vrf << std::setw(16) << dst << std::setw(16) << src << std::setw(7)
      << action << std::setw(kParamsWidth) << params << TwiceNatService::originName(r.origin)
      << "\n";
}

void printTextRow(std::ostream& os, EntryRow const& r, bool isDefault) {
   if (r.origin == EntryOrigin::missingOnChip) return;
   BfTwiceNatAddrOnly::TwiceNatAddrOnlyTableEntry entry(isDefault ? nullptr
                                                                  : matchSpecOf(r.entry.match));
   entry.actionIs(actionSpecOf(r.entry.action));
   os << entry << "\n";
}

void printEntryTable(std::ostream& os, std::vector<EntryRow> const& rows,
                     std::optional<EntryRow> const& defaultRow) {
   printTableHeader(os);
   for (EntryRow const& r : rows)
      printTableRow(os, r, false);
   if (defaultRow) printTableRow(os, *defaultRow, true);
}

void printEntryText(std::ostream& os, std::vector<EntryRow> const& rows) {
   for (EntryRow const& r : rows)
      printTextRow(os, r, false);
}

int exitStatusOf(Status const& s) {
   return s.ok() ? kExitOk : refusedInput(s) ? kExitBadInput : kExitSdkFailure;
}

std::string failureText(Status const& s) {
   return (s.sdkStatus ? "SDK failure: " : "") + s.message;
}

int failed(Status const& s, std::ostream& err) {
   try {
      check(s);
   } catch (...) {
      return reportFailure(std::current_exception(), err);
   }
   return kExitOk;
}

}  // namespace TwiceNatCli
