#pragma once
// Journal of SDK calls for tests: every call of either face, in order, with its arguments as
// numbers and the status it returned. Process-local and off until a test switches it on.
//
// Arguments per operation (sess: session handle, dev: device, pipe: target pipe, hdl: entry
// handle, vrf/dip/sip: key fields, a1..a5: action parameters keyId, rwId, prot, frag and
// nextHop or ecmpGroup; the VRF is recorded as given, even where the table ignores it):
//   PD (prefix p4_pd_tolvex_switch_twiceNatAddrOnly_)
//     set_property                    sess, dev, property, value
//     table_add_with_onMiss           sess, dev, pipe, vrf, dip, sip
//     table_add_with_<hit action>     sess, dev, pipe, vrf, dip, sip, a1..a5
//     table_modify_with_onMiss        sess, dev, hdl
//     table_modify_with_<hit action>  sess, dev, hdl, a1..a5
//     set_default_action_onMiss       sess, dev, pipe
//     set_default_action_<hit action> sess, dev, pipe, a1..a5
//     table_delete                    sess, dev, hdl
//     table_reset_default_entry       sess, dev, pipe
//     get_entry                       sess, dev, hdl, readFromHw
//     optional_fields                 dev
//   BfRt info: bfrtTableFromNameGet (dev), sessionCreate (dev, new session handle)
//   BfRt table (dev is the table's device)
//     tableTypeGet, keyAllocate, dataAllocate, keyReset, dataReset   dev
//     dataReset with action id        dev, action id
//     devTargetSet                    dev, pipe (of the target)
//     attributeAllocate               dev, attribute type
//     tableAttributesSet              sess, dev, pipe, scope (0 all, 1 single, ~0 unset)
//     tableEntryAdd                   sess, dev, pipe, vrf, dip, sip, action id, a1..a5
//     tableEntryModByHandle           sess, dev, pipe, flags, hdl, action id, a1..a5
//     tableDefaultEntrySet            sess, dev, pipe, flags, action id, a1..a5
//     tableDefaultEntryReset          sess, dev, pipe
//     tableEntryDelByHandle           sess, dev, pipe, hdl
//     tableEntryGet                   sess, dev, pipe, flags, hdl
//     keyFieldIdGet, actionIdGet      dev
//     dataFieldIdGet                  dev, action id
//     (a1..a5 of a BfRt data object are its values in field order; 0 for unset fields, none
//      for onMiss or an unbound data object)
//   BfRt objects
//     key.setValue, data.setValue     field id, value
//     key.getValue, data.getValue     field id
//     data.actionIdGet                (none)
//     attributes.entryScopeParamsSet  scope
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chip/Faults.h"
#include "chip/Status.h"

namespace chip {

struct JournalCall {
   std::string name;
   std::vector<uint64_t> args;
   Status status = 0;

   // "name(a, b, c) = status", numbers in decimal.
   std::string toString() const;
   bool operator==(JournalCall const&) const = default;
};

void journalEnabledIs(bool on);
bool journalEnabled();
std::vector<JournalCall> const& journal();
void journalClear();
// Calls named `name`, in order.
std::vector<JournalCall> journalCalls(std::string_view name);

namespace detail {
// Installs the watcher that feeds faults and the journal while either is in use, else none.
void rewatch();
}  // namespace detail
}  // namespace chip
