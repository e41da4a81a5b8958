#pragma once
// What the service manager that started the agent learns of it: when it is ready to serve,
// how it does, and that it is stopping (systemd's Type=notify protocol, over the socket that
// NOTIFY_SOCKET names). Without a service manager these do nothing.
#include <string_view>

namespace TwiceNatAgent::ServiceManager {

// Ready to serve; `status` is the one line 'systemctl status' shows.
void ready(std::string_view status);
void statusIs(std::string_view status);
// Stopping: the manager waits for the exit instead of taking it for a crash.
void stopping(std::string_view status);

}  // namespace TwiceNatAgent::ServiceManager
