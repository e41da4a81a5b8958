#pragma once
// Fault injection for tests (the testing library, not the product): any SDK operation, named by its
// PD function name or its BfRt operation name (table methods by method name; "key.setValue",
// "key.getValue", "data.setValue", "data.getValue", "data.actionIdGet",
// "attributes.entryScopeParamsSet" for the objects), can be made to fail. Faults are process-local;
// a failing call changes nothing.
#include <string>
#include <string_view>

#include "chip/Status.h"

namespace chip {

// `op` fails with `status` on its `nth` call counted from now (1-based): once, or, when
// `sticky`, on that call and every later one. A later fault for the same op replaces it.
void faultIs(std::string_view op, Status status, unsigned nth = 1, bool sticky = false);
void faultDel(std::string_view op);
void faultsClear();

namespace detail {
extern bool gFaultsArmed;
// Counts a call of `op` and returns the status it must fail with, or 0.
Status faultFor(std::string_view op);
}  // namespace detail

}  // namespace chip
