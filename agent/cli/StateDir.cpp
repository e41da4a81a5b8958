#include "agent/cli/StateDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "agent/cli/InputError.h"

namespace TwiceNatCli {

bool StateDir::chipExists() const {
   std::error_code ec;
   return std::filesystem::is_regular_file(chipPath(), ec);
}

void StateDir::check() const {
   std::error_code ec;
   auto const st = std::filesystem::status(dir, ec);
   if (std::filesystem::exists(st) && !std::filesystem::is_directory(st)) {
      throw InputError("the state folder " + dir + " is not a folder");
   }
   // Else every file in it would seem missing.
   if (std::filesystem::is_directory(st) && ::access(dir.c_str(), X_OK) != 0) {
      int const e = errno;
      struct stat ds {};
      ::stat(dir.c_str(), &ds);
      throw InputError("the state folder " + dir + " cannot be looked into: " + std::strerror(e) +
                       " (it belongs to uid " + std::to_string(ds.st_uid) + ")");
   }
}

void StateDir::requireState() const {
   check();
   if (!chipExists()) {
      throw InputError("no chip in " + dir +
                       ": create one first with 'twicenat chip create' (or name another state "
                       "folder with --state DIR)");
   }
   std::error_code ec;
   if (!std::filesystem::exists(keyTablePath(), ec)) {
      throw InputError("the key table " + keyTablePath() +
                       " of the chip is missing: 'twicenat chip repair' makes a new one, which "
                       "takes up the chip's entries");
   }
}

void StateDir::create() const {
   check();
   std::error_code ec;
   std::filesystem::create_directories(dir, ec);
   if (ec) throw std::runtime_error("cannot make the state folder " + dir + ": " + ec.message());
   // The key table and the socket give whoever reaches them the table: keep others out.
   struct stat st {};
   if (::stat(dir.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077)) {
      ::chmod(dir.c_str(), st.st_mode & 0700);
   }
}

StateDir stateDirOf(std::optional<std::string> const& option) {
   if (option) {
      if (option->empty()) throw InputError("--state needs a folder name, not an empty one");
      return {*option};
   }
   if (char const* env = std::getenv("TWICENAT_STATE"); env && *env) return {env};
   if (char const* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
      return {std::string(xdg) + "/twicenat"};
   }
   char const* home = std::getenv("HOME");
   return {std::string(home && *home ? home : ".") + "/.local/state/twicenat"};
}

}  // namespace TwiceNatCli
