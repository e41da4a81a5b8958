#pragma once
// The agent service's requests and replies as typed values. The socket carries them as JSON
// (RequestCodec, ReplyCodec; docs/protocol.md); a command with no agent serving hands them to
// the same handler in its own process.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/core/AgentCore.h"

namespace TwiceNatService {

using namespace TwiceNatAgent;

constexpr int kProtocolVersion = 2;

enum class Op : U8 {
   status,        // who serves, and how it does
   stop,          // ends the agent once answered
   chip,          // the chip's profile and counts
   get,           // entries by key (and the default)
   show,          // every entry passing a filter, streamed in pages
   clear,         // removes every entry a page at a time, and resets the default
   insert,        // one update: ALREADY_EXISTS when the key is held
   modify,        // NOT_FOUND when it is not
   program,       // insert or modify
   remove,        // "delete" on the wire
   defaultSet,    // the match is not given
   defaultReset,  // nothing is given
   apply,         // one batch, whole
   begin,         // a batch that arrives in parts: open,
   part,          // one part,
   commit,        // keep what it did,
   rollback,      // or undo it
};
// The name on the wire ("delete" for remove); nothing for a name that is no op.
std::string_view opName(Op op);
std::optional<Op> opNamed(std::string_view name);
// The op of an update of that kind, and back (only for the six update ops).
Op opOf(UpdateKind kind);
std::optional<UpdateKind> updateKindOf(Op op);

std::string_view modeName(BatchMode mode);  // "continue", "rollback", "dryRun"
std::optional<BatchMode> modeNamed(std::string_view name);
// The code named as codeName() names it.
std::optional<Code> codeNamed(std::string_view name);

// A show's filter: the core's, and the action.
struct ShowFilter {
   ReadFilter key;
   std::optional<ActionKind> action;
   bool any() const { return key.dip || key.sip || key.vrf || action; }
};

struct Request {
   Request() = default;
   explicit Request(Op o) : op(o) {}

   Op op = Op::status;
   EntrySpec entry;              // insert, modify, program; remove (match); defaultSet (action)
   std::vector<Update> updates;  // apply, part
   BatchMode mode = BatchMode::continueOnError;  // apply, begin
   U64 expect = 0;              // apply, begin: updates still to come in the batch or load (a hint)
   std::vector<MatchKey> keys;  // get
   bool withDefault = false;    // get: the default entry too
   ShowFilter filter;           // show
   U32 pageSize = 0;            // show: 0 for the agent's own
};

// An update of a batch that did not go through.
struct Failure {
   U64 index = 0;  // in the batch (the part), from 0
   Status status;
};

// The statuses of a batch in short: every update not named by a failure succeeded, or, when
// the batch was rolled back, was aborted.
struct BatchReply {
   std::vector<Failure> failures;
   U64 aborted = 0;  // updates undone or never tried because the batch rolled back
   U64 added = 0, changed = 0, removed = 0;
   bool rolledBack = false;
   std::string rollbackFailure;
};

struct StatusFigures {
   I64 pid = 0;
   std::string stateDir;
   U64 entries = 0;
   double uptimeSeconds = 0;
   U64 requestsServed = 0;
   U64 clients = 0;
   std::string version;  // the agent's release, "0.1.0"
};

struct Reply {
   // The request's outcome. A refused request (not JSON, a field missing, mistyped or given
   // twice, an unknown op) is INVALID_ARGUMENT with a message saying why; a single update
   // carries its own status here; a batch is OK once carried out, whatever its updates did.
   Status status;
   Programmed programmed;                      // single updates; clear: the default's reset
   std::optional<MatchKey> taken;              // single updates: the key as the table took it
   BatchReply batch;                           // apply, part, commit, rollback; clear
   std::vector<std::optional<EntryRow>> rows;  // get: one per key, in order
   std::optional<EntryRow> defaultRow;         // get, show (last page): the default entry
   StatusFigures figures;                      // status, stop (pid)
   std::string chip;                           // chip: a JSON object, as it is
};

// One page of a show. The last one also carries the counts and the default entry.
struct Page {
   std::vector<EntryRow> rows;
   bool last = false;
   U64 matching = 0;  // rows of every page, last page only
   U64 total = 0;     // entries of the table
   std::optional<EntryRow> defaultRow;
   Status status;  // not OK: the read was refused (a VRF filter on a table without it)
};

}  // namespace TwiceNatService
