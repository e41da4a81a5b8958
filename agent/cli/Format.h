#pragma once
// What the agent prints: the readable entry table, the text form lines.
#include <ostream>
#include <vector>

#include "agent/cli/AgentSession.h"

namespace TwiceNatCli {

// Columns: handle, VRF, destination, source, action, parameters, status; the default entry
// (when given) as the last line.
void printEntryTable(std::ostream& os, std::vector<AgentSession::Row> const& rows,
                     std::optional<AgentSession::Row> const& defaultRow);
// One line per entry: the system's text form of the entry as read back.
void printEntryText(std::ostream& os, std::vector<AgentSession::Row> const& rows);
// "hit keyId=1 rwId=2 prot=6 frag=0 nextHop=7" for an action as the chip holds it.
std::string actionText(ActionPtr const& action);
std::string handleText(U32 handle);

}  // namespace TwiceNatCli
