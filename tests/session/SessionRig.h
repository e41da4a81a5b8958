#pragma once
// A chip file and its key table in a scratch folder, agent sessions over them, and the table
// as a session reads it back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "agent/KeyTable.h"
#include "agent/cli/AgentSession.h"
#include "agent/cli/Format.h"
#include "agent/cli/SdkLibrary.h"
#include "chip/Chip.h"
#include "support/Scratch.h"

namespace TwiceNatSessionTest {

using TwiceNatCli::AgentSession;

class StateFiles {
 public:
   explicit StateFiles(chip::Profile const& profile) {
      chip::Chip::create(chip(), profile);
      TwiceNatAgent::KeyTable::create(keys(), profile.capacity + chip::kMaxPipes + 1);
   }

   std::string chip() const { return dir_ + "/chip"; }
   std::string keys() const { return dir_ + "/keys"; }
   // Copies both files over those of `to`.
   void copyTo(StateFiles const& to) const {
      auto const over = std::filesystem::copy_options::overwrite_existing;
      std::filesystem::copy_file(chip(), to.chip(), over);
      std::filesystem::copy_file(keys(), to.keys(), over);
   }

 private:
   std::string const dir_ = TwiceNatTest::scratchFolder("session");
};

// One agent start over the files: the chip opened, the session made (and so reconciled).
struct Start {
   Start(StateFiles const& files, TwiceNatCli::SdkLibrary const& sdk, bool readOnly = false)
       : chip(chip::Chip::open(
             files.chip(), readOnly ? chip::ChipAccess::readOnly : chip::ChipAccess::readWrite)),
         session(std::make_unique<AgentSession>(*chip, files.keys(), sdk, readOnly)) {}
   AgentSession& s() const { return *session; }

   std::unique_ptr<chip::Chip> chip;
   std::unique_ptr<AgentSession> session;
};

// Entry n: 10.0.0.n -> 192.168.0.n in VRF n % 3, with an action of `kind`.
inline TwiceNatCli::EntrySpec entryOf(U32 n,
                                      TwiceNatCli::ActionKind kind = TwiceNatCli::ActionKind::hit,
                                      U16 target = 7) {
   return {{0x0A000000u + n, 0xC0A80000u + n, U16(n % 3), true},
           {kind, U16(n), U16(n + 1), 6, 0, target}};
}

// The table as the agent reads it back, without handles: sorted entry lines, then the default.
inline std::vector<std::string> contents(AgentSession const& s) {
   std::vector<std::string> lines;
   for (auto const& row : s.entries([](TwiceNatCli::MatchKey const&) { return true; })) {
      lines.push_back(
          TwiceNatCli::keyText(TwiceNatCli::matchKeyOf(*row.match)) + " " +
          (row.entry.empty() ? "missing" : TwiceNatCli::actionText(row.entry.action())));
   }
   std::sort(lines.begin(), lines.end());
   auto def = s.defaultEntry();
   lines.push_back("default " + (def ? TwiceNatCli::actionText(def->entry.action()) : "none"));
   return lines;
}

}  // namespace TwiceNatSessionTest
