#pragma once
// Requests on the socket: one JSON object per line (docs/protocol.md).
#include <cstddef>
#include <string>
#include <string_view>

#include "agent/service/JsonEvents.h"
#include "agent/service/Messages.h"

namespace TwiceNatService {

// No request line is longer; a batch the command line sends stays well below.
constexpr std::size_t kMaxRequestBytes = std::size_t(1) << 20;
// Updates of one batch (or part): its work under the table's lock stays a few milliseconds.
constexpr std::size_t kMaxBatchUpdates = 8192;
// Keys of one get.
constexpr std::size_t kMaxGetKeys = 8192;
// Entries of a show's page: what the agent reads for one page before it serves others.
constexpr U32 kDefaultPageSize = 1000;
constexpr U32 kMaxPageSize = 10000;

// The request as one line, newline included.
std::string encodeRequest(Request const& request);
// `line` without or with its newline. ProtocolError saying why it is refused: not JSON, another
// version, a field missing, mistyped, out of range, given twice or unknown to its op, an unknown
// op, more updates than a batch may hold.
Request parseRequest(std::string_view line);

}  // namespace TwiceNatService
