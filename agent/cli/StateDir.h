#pragma once
// The agent's state folder: the chip file, the shared-memory key table file, the lock and the
// socket of the agent that serves it. Named by --state, else TWICENAT_STATE, else
// $XDG_STATE_HOME/twicenat or ~/.local/state/twicenat.
#include <optional>
#include <string>

namespace TwiceNatCli {

struct StateDir {
   std::string dir;
   std::string chipPath() const { return dir + "/chip"; }
   std::string keyTablePath() const { return dir + "/keys"; }
   std::string socketPath() const { return dir + "/agent.sock"; }
   bool chipExists() const;
   // Makes the folder (0700) and its parents, and closes an existing one this user owns to
   // others; InputError when the name is taken by something not a folder, std::runtime_error
   // when it cannot be made.
   void create() const;
   // InputError when the name is taken by something not a folder, or names a folder this user
   // may not look into (another user's: permission denied).
   void check() const;
   // check(), and InputError when the folder holds no chip or the chip's key table is missing.
   void requireState() const;
};

// InputError for an empty --state.
StateDir stateDirOf(std::optional<std::string> const& option);

}  // namespace TwiceNatCli
