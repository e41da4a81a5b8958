#include "chip/Journal.h"

#include "chip/SdkCall.h"

namespace chip {

namespace {

bool gJournalOn = false;

std::vector<JournalCall>& calls() {
   static std::vector<JournalCall> c;
   return c;
}

// An injected fault answers instead of the call; the journal records what the call returned.
class TestWatcher final : public CallWatcher {
 public:
   Status before(std::string_view name) override {
      return detail::gFaultsArmed ? detail::faultFor(name) : status::kOk;
   }
   void after(std::string_view name, std::initializer_list<uint64_t> args, Status status) override {
      if (gJournalOn)
         calls().push_back(JournalCall{std::string(name), std::vector<uint64_t>(args), status});
   }
};

}  // namespace

namespace detail {

void rewatch() {
   static TestWatcher watcher;
   callWatcherIs(gFaultsArmed || gJournalOn ? &watcher : nullptr);
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
   gJournalOn = on;
   detail::rewatch();
}
bool journalEnabled() {
   return gJournalOn;
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
