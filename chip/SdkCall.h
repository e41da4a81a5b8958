#pragma once
// Every SDK operation of either face runs through sdkCall(), so that a harness can watch the
// calls: fail one before it runs, and see each one's arguments and status. The product installs
// no watcher; a call then costs one load and a branch.
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "chip/Status.h"

namespace chip {

class CallWatcher {
 public:
   // The status `name` fails with instead of running, or status::kOk to run it.
   virtual Status before(std::string_view name) = 0;
   // Sees every call that ran or failed, with its arguments as numbers.
   virtual void after(std::string_view name, std::initializer_list<uint64_t> args,
                      Status status) = 0;

 protected:
   ~CallWatcher() = default;
};

// Installs `watcher` (nullptr: none) for every later call; returns the one it replaces.
CallWatcher* callWatcherIs(CallWatcher* watcher);

namespace detail {
extern CallWatcher* gCallWatcher;
}  // namespace detail

template <class Body>
Status sdkCall(std::string_view name, std::initializer_list<uint64_t> args, Body&& body) {
   CallWatcher* watcher = detail::gCallWatcher;
   if (!watcher) return body();
   Status st = watcher->before(name);
   if (st == status::kOk) st = body();
   watcher->after(name, args, st);
   return st;
}

}  // namespace chip
