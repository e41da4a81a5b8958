#include "chip/Journal.h"

namespace chip {

namespace {
std::vector<JournalCall>& calls() {
   static std::vector<JournalCall> c;
   return c;
}
}  // namespace

namespace detail {

bool gJournalOn = false;

void journalAppend(std::string_view name, std::initializer_list<uint64_t> args, Status status) {
   calls().push_back(JournalCall{std::string(name), std::vector<uint64_t>(args), status});
}

}  // namespace detail

std::string JournalCall::toString() const {
   std::string s = name + "(";
   for (size_t i = 0; i < args.size(); ++i) {
      if (i) s += ", ";
      s += std::to_string(args[i]);
   }
   return s + ") = " + std::to_string(status);
}

void journalEnabledIs(bool on) {
   detail::gJournalOn = on;
}
bool journalEnabled() {
   return detail::gJournalOn;
}
std::vector<JournalCall> const& journal() {
   return calls();
}
void journalClear() {
   calls().clear();
}

std::vector<JournalCall> journalCalls(std::string_view name) {
   std::vector<JournalCall> out;
   for (auto const& c : calls()) {
      if (c.name == name) out.push_back(c);
   }
   return out;
}

}  // namespace chip
