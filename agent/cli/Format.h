#pragma once
// What the command line prints of the agent's replies: the entry table, the text form, the
// failure a command ends with.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "agent/cli/EntrySpec.h"
#include "agent/core/AgentCore.h"

namespace TwiceNatCli {

using TwiceNatAgent::EntryRow;
using TwiceNatAgent::Status;

std::string handleText(U32 handle);
// "hit keyId=1 rwId=2 prot=6 frag=0 nextHop=7", "onMiss".
std::string actionText(ActionValues const& action);

// The table: columns handle, VRF, destination, source, action, parameters, status; the default
// entry's row says "default" where the handle goes.
void printTableHeader(std::ostream& os);
void printTableRow(std::ostream& os, EntryRow const& row, bool isDefault);
// The system's text form of the entry (for the default, 'match': None), one line; nothing for
// an entry the chip lost.
void printTextRow(std::ostream& os, EntryRow const& row, bool isDefault);
// Whole tables of rows at once, the default (when given) last.
void printEntryTable(std::ostream& os, std::vector<EntryRow> const& rows,
                     std::optional<EntryRow> const& defaultRow);
void printEntryText(std::ostream& os, std::vector<EntryRow> const& rows);

// The one line a command ends with when the agent refused or failed ("twicenat: ..."), and its
// exit status: 2 for refused input, 1 for an SDK or other failure (SdkFailure.h).
int failed(Status const& status, std::ostream& err);
int exitStatusOf(Status const& status);
// "SDK failure: ..." for a status the SDK gave, else the message.
std::string failureText(Status const& status);

}  // namespace TwiceNatCli
