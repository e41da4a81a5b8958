#include "agent/daemon/ServiceManager.h"

#include <systemd/sd-daemon.h>

#include <string>

namespace TwiceNatAgent::ServiceManager {

namespace {

void notify(std::string const& state) {
   // The environment is kept: a failed notification is no reason to stop serving, and the
   // agent starts no process that could take the socket for its own.
   ::sd_notify(0, state.c_str());
}

}  // namespace

void ready(std::string_view status) {
   notify("READY=1\nSTATUS=" + std::string(status));
}

void statusIs(std::string_view status) {
   notify("STATUS=" + std::string(status));
}

void stopping(std::string_view status) {
   notify("STOPPING=1\nSTATUS=" + std::string(status));
}

}  // namespace TwiceNatAgent::ServiceManager
