#include "chip/SdkCall.h"

namespace chip {

namespace detail {
CallWatcher* gCallWatcher = nullptr;
}  // namespace detail

CallWatcher* callWatcherIs(CallWatcher* watcher) {
   CallWatcher* previous = detail::gCallWatcher;
   detail::gCallWatcher = watcher;
   return previous;
}

}  // namespace chip
