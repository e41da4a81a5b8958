#pragma once
// Replies on the socket: one JSON object per line; a show's pages one line each
// (docs/protocol.md).
#include <string>
#include <string_view>

#include "agent/service/JsonEvents.h"
#include "agent/service/Messages.h"

namespace TwiceNatService {

// The reply to a request of `op`, one line appended to `out`. A reply whose status is not OK
// carries only the status, unless it is a batch's.
void encodeReply(Op op, Reply const& reply, std::string& out);
void encodePage(Page const& page, std::string& out);

// ProtocolError when the line is no reply to `op` of this protocol.
Reply parseReply(Op op, std::string_view line);
// Into `page`, whose rows keep their room.
void parsePage(std::string_view line, Page& page);

std::string_view changeName(Change change);  // "none", "added", "changed", "removed"

}  // namespace TwiceNatService
