#include "agent/cli/StateDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace TwiceNatCli {

bool StateDir::chipExists() const {
   std::error_code ec;
   return std::filesystem::is_regular_file(chipPath(), ec);
}

void StateDir::create() const {
   std::error_code ec;
   std::filesystem::create_directories(dir, ec);
   if (ec) throw std::runtime_error("cannot make the state folder " + dir + ": " + ec.message());
}

StateDir stateDirOf(std::optional<std::string> const& option) {
   if (option && !option->empty()) return {*option};
   if (char const* env = std::getenv("TWICENAT_STATE"); env && *env) return {env};
   if (char const* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
      return {std::string(xdg) + "/twicenat"};
   }
   char const* home = std::getenv("HOME");
   return {std::string(home && *home ? home : ".") + "/.local/state/twicenat"};
}

}  // namespace TwiceNatCli
