#include "chip/Faults.h"

#include "chip/Journal.h"

#include <algorithm>
#include <vector>

namespace chip {

namespace {

struct Fault {
   std::string op;
   Status status;
   unsigned nth;
   bool sticky;
   unsigned calls = 0;
};

std::vector<Fault>& faults() {
   static std::vector<Fault> f;
   return f;
}

void rearm() {
   detail::gFaultsArmed = !faults().empty();
   detail::rewatch();
}

}  // namespace

namespace detail {

bool gFaultsArmed = false;

Status faultFor(std::string_view op) {
   for (Fault& f : faults()) {
      if (f.op != op) continue;
      ++f.calls;
      bool fires = f.sticky ? f.calls >= f.nth : f.calls == f.nth;
      return fires ? f.status : status::kOk;
   }
   return status::kOk;
}

}  // namespace detail

void faultIs(std::string_view op, Status status, unsigned nth, bool sticky) {
   faultDel(op);
   faults().push_back(Fault{std::string(op), status, nth == 0 ? 1 : nth, sticky});
   rearm();
}

void faultDel(std::string_view op) {
   std::erase_if(faults(), [op](Fault const& f) { return f.op == op; });
   rearm();
}

void faultsClear() {
   faults().clear();
   rearm();
}

}  // namespace chip
