#pragma once
// The agent's state folder: the chip file and the shared-memory key table file. Named by
// --state, else TWICENAT_STATE, else $XDG_STATE_HOME/twicenat or ~/.local/state/twicenat.
#include <optional>
#include <string>

namespace TwiceNatCli {

struct StateDir {
   std::string dir;
   std::string chipPath() const { return dir + "/chip"; }
   std::string keyTablePath() const { return dir + "/keys"; }
   bool chipExists() const;
   // Makes the folder and its parents; throws std::runtime_error when it cannot.
   void create() const;
};

StateDir stateDirOf(std::optional<std::string> const& option);

}  // namespace TwiceNatCli
