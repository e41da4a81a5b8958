#pragma once
// Between P4Runtime's table entries and the core's values: a Write's update becomes a core
// update, a Read's entity a query, and an entry read from the chip a table entry again.
// Every check a message can fail is made here, before the core sees anything, with the
// canonical code P4Runtime gives it: INVALID_ARGUMENT for an unknown id, a missing, repeated
// or extra field, a match kind or action form the table does not have, and for what an update
// of its type may not carry; OUT_OF_RANGE for a value wider than its field or an empty one;
// UNIMPLEMENTED for an entity of another kind and for per-entry metadata, which the table
// does not keep.
#include "agent/core/AgentCore.h"
#include "agent/p4rt/Pipeline.h"
#include "agent/p4rt/RpcError.h"
#include "p4/v1/p4runtime.pb.h"

namespace TwiceNatP4rt {

struct WriteOp {
   TwiceNatAgent::Update update;
   // A MODIFY without an action: the entry keeps the action it has.
   bool keepAction = false;
};

RpcError toWriteOp(Pipeline const& pipeline, p4::v1::Update const& update, WriteOp& out);

struct ReadQuery {
   enum class Kind { entries, one, defaultEntry };
   Kind kind = Kind::entries;
   TwiceNatAgent::ReadFilter filter;  // entries: the match fields the request gave
   TwiceNatAgent::MatchKey key;       // one: every match field given
};

// A wildcard (table id 0, or the table's id with no match) reads every entry; some match
// fields read the entries that have those values; all of them read one entry; the default
// flag reads the default entry.
RpcError toReadQuery(Pipeline const& pipeline, p4::v1::Entity const& entity, ReadQuery& out);

// Values in their shortest byte strings. `out` may hold an entry written before: its parts are
// reused, so that a reader that refills one message allocates nothing.
void toTableEntry(Pipeline const& pipeline, TwiceNatAgent::EntrySpec const& entry,
                  p4::v1::TableEntry& out);
void toDefaultEntry(Pipeline const& pipeline, TwiceNatAgent::ActionValues const& action,
                    p4::v1::TableEntry& out);

}  // namespace TwiceNatP4rt
