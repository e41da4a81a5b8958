// load FILE: many entries, one per line, each checked in full before it is programmed.
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

namespace {

std::vector<std::string> readLines(std::string const& path) {
   std::ifstream in(path);
   if (!in) throw InputError("cannot read " + path + ": " + std::strerror(errno));
   std::vector<std::string> lines;
   for (std::string line; std::getline(in, line);)
      lines.push_back(std::move(line));
   return lines;
}

bool skipped(std::string const& line) {
   std::size_t first = line.find_first_not_of(" \t\r");
   return first == std::string::npos || line[first] == '#';
}

int load(ParsedArgs const& args, GlobalOptions const& global) {
   std::string const& path = args.positional().front();
   std::vector<std::string> lines = readLines(path);
   AgentStart agent(global);
   AgentSession& s = *agent.session;

   std::size_t added = 0, changed = 0, bad = 0;
   std::optional<std::size_t> failedLine;
   ProgressBar bar(lines.size());
   auto start = std::chrono::steady_clock::now();
   for (std::size_t i = 0; i < lines.size(); ++i) {
      bar.update(i);
      if (skipped(lines[i])) continue;
      EntrySpec spec;
      try {
         spec = parseEntryLine(lines[i]);
         spec.match = s.fitted(spec.match, false);
      } catch (InputError const& e) {
         bar.finish();
         std::cerr << path << ":" << i + 1 << ": " << e.what() << "\n";
         ++bad;
         continue;
      }
      try {
         (s.program(spec) == AgentSession::Change::added ? added : changed)++;
      } catch (...) {
         // An SDK failure, or a key table that cannot take the entry: either way the chip
         // refuses what follows too, so the load stops here.
         bar.finish();
         std::optional<std::string> why = sdkFailureText(std::current_exception());
         if (!why) {
            try {
               throw;
            } catch (std::exception const& e) {
               why = e.what();
            }
         }
         std::cerr << path << ":" << i + 1 << ": " << *why << "\n";
         failedLine = i + 1;
         break;
      }
   }
   bar.update(lines.size());
   bar.finish();
   double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   std::size_t done = added + changed;
   std::cout << path << ": " << done << " entries programmed (" << added << " added, " << changed
             << " changed) in " << std::fixed << std::setprecision(3) << secs << " s, "
             << std::setprecision(0) << (secs > 0 ? done / secs : 0.0) << " entries/s";
   if (bad) std::cout << "; " << bad << " bad line" << (bad == 1 ? "" : "s") << " skipped";
   std::cout << "\n";
   if (failedLine) {
      std::cout << "stopped at line " << *failedLine << " on a failure; the entries before "
                << "it stay programmed\n";
      return bad ? kExitBadInput : kExitSdkFailure;
   }
   return bad ? kExitBadInput : kExitOk;
}

}  // namespace

Command loadCommand() {
   return {{"load",
            "FILE",
            "Programs the entries of FILE, one per line: the system's text form as 'show --text' "
            "prints it, or the columns\n"
            "  DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]\n"
            "(VRF '-' for none; onMiss takes no parameters). Blank lines and '#' comments are "
            "skipped. A bad line is reported as FILE:LINE and changes nothing; the others are "
            "programmed (added, or changed when the entry exists). Exit status 2 when any line "
            "was bad.",
            {},
            1},
           load};
}

}  // namespace TwiceNatCli
