#pragma once
// The state folder's lock, DIR/lock: an agent that serves the folder holds it for its life,
// and a command that runs in its own process holds it for its run, so the two never touch
// the chip and the key table at once. An flock, so a kill -9 releases it with the process.
#include <string>

namespace TwiceNatCli {

class StateLock {
 public:
   // `write`: always exclusive; `read`: exclusive too when the folder can be written (a start
   // settles the key table), else shared.
   enum class Mode { write, read };
   enum class Outcome { taken, busy, notNeeded };

   StateLock() = default;
   ~StateLock();
   StateLock(StateLock&& o) noexcept;
   StateLock& operator=(StateLock&& o) noexcept;

   // One attempt, never blocking. Makes the lock file when it is missing. On a
   // folder this user cannot write, `read` takes a shared lock when the lock file exists
   // and needs none when it does not (nobody can be changing a folder that has no lock file
   // and cannot be written). Throws std::runtime_error when the file cannot be opened.
   Outcome tryTake(std::string const& dir, Mode mode);
   bool held() const { return fd_ >= 0; }
   void release();

 private:
   int fd_ = -1;
};

// Whether a process holds the folder's lock right now (false when there is no lock file).
bool stateLockBusy(std::string const& dir);

}  // namespace TwiceNatCli
