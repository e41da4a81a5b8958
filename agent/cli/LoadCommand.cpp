// load FILE: many entries, one per line, each checked in full before it is programmed.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "agent/cli/Client.h"
#include "agent/cli/Commands.h"
#include "agent/cli/InputError.h"
#include "agent/cli/ProgressBar.h"
#include "agent/cli/SdkFailure.h"

namespace TwiceNatCli {

namespace {

// A batch is one request: small enough to keep the agent answering others between batches,
// big enough that the round trip does not count.
constexpr std::size_t kBatchLines = 2000;
constexpr std::size_t kBatchBytes = std::size_t(1) << 20;
// A longer line cannot be an entry; refusing it here keeps every batch under the request cap.
constexpr std::size_t kMaxEntryLine = 65536;

std::vector<std::string> readLines(std::string const& path) {
   std::error_code ec;
   if (std::filesystem::is_directory(path, ec)) {
      throw InputError("cannot load " + cut(path, 256) + ": it is a folder, not a file of entries");
   }
   std::ifstream in(path);
   if (!in) throw InputError("cannot read " + cut(path, 256) + ": " + std::strerror(errno));
   std::vector<std::string> lines;
   for (std::string line; std::getline(in, line);)
      lines.push_back(std::move(line));
   if (in.bad()) throw InputError("cannot read " + cut(path, 256) + ": " + std::strerror(errno));
   return lines;
}

bool skipped(std::string_view line) {
   std::size_t first = line.find_first_not_of(" \t\r");
   return first == std::string::npos || line[first] == '#';
}

int load(ParsedArgs const& args, GlobalOptions const& global) {
   std::string const& path = args.positional().front();
   std::vector<std::string> lines = readLines(path);
   AgentLink agent(global, true);

   U64 added = 0, changed = 0, bad = 0;
   std::optional<U64> failedLine;
   ProgressBar bar(lines.size());
   auto start = std::chrono::steady_clock::now();
   for (std::size_t next = 0; next < lines.size() && !failedLine;) {
      bar.update(next);
      Request batch;
      batch.cmd = "load";
      batch.path = path;
      batch.firstLine = next + 1;
      std::string tooLong;
      for (std::size_t count = 0;
           next < lines.size() && count < kBatchLines && batch.text.size() < kBatchBytes;
           ++next, ++count) {
         if (lines[next].size() > kMaxEntryLine) {
            tooLong += path + ":" + std::to_string(next + 1) + ": a line longer than " +
                       std::to_string(kMaxEntryLine) + " bytes is no entry\n";
            ++bad;
         } else {
            batch.text += lines[next];
         }
         batch.text += '\n';
      }
      Reply const reply = agent.call(batch);
      bar.print(tooLong + reply.err);
      if (!reply.data.contains("added")) {
         bar.finish();
         std::cout << reply.out;
         return reply.status;
      }
      added += reply.data.value("added", U64(0));
      changed += reply.data.value("changed", U64(0));
      bad += reply.data.value("bad", U64(0));
      if (reply.data.contains("failedLine")) failedLine = reply.data["failedLine"].get<U64>();
   }
   bar.finish();
   double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
   U64 done = added + changed;
   std::cout << path << ": " << done << " entries programmed (" << added << " added, " << changed
             << " changed) in " << std::fixed << std::setprecision(3) << secs << " s, "
             << std::setprecision(0) << (secs > 0 ? double(done) / secs : 0.0) << " entries/s";
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

Reply loadBatch(AgentSession& s, Request const& request) {
   U64 added = 0, changed = 0, bad = 0;
   std::ostringstream err;
   Reply r;
   // Every line is checked first, so that the index slots of the entries to come can be
   // fetched a few lines ahead of their programming.
   std::vector<std::string_view> lines;
   std::string_view const text = request.text;
   for (std::size_t at = 0; at < text.size();) {
      std::size_t const end = text.find('\n', at);
      std::size_t const stop = end == std::string_view::npos ? text.size() : end;
      lines.push_back(text.substr(at, stop - at));
      at = stop + 1;
   }
   std::size_t const n = lines.size();
   std::vector<EntrySpec> specs(n);
   std::vector<std::string> why(n);  // empty: a line to program (or skip)
   std::vector<bool> programmed(n);
   for (std::size_t i = 0; i < n; ++i) {
      if (skipped(lines[i])) continue;
      try {
         specs[i] = parseEntryLine(lines[i]);
         specs[i].match = s.fitted(specs[i].match, false);
         programmed[i] = true;
      } catch (InputError const& e) {
         why[i] = e.what();
      }
   }
   constexpr std::size_t kAhead = 8;
   for (std::size_t i = 0; i < n; ++i) {
      U64 const number = request.firstLine + i;
      if (!why[i].empty()) {
         err << request.path << ":" << number << ": " << why[i] << "\n";
         ++bad;
         continue;
      }
      if (!programmed[i]) continue;
      if (i + kAhead < n && programmed[i + kAhead]) s.prefetch(specs[i + kAhead].match);
      try {
         (s.program(specs[i]) == AgentSession::Change::added ? added : changed)++;
      } catch (...) {
         // An SDK failure, or a key table that cannot take the entry: either way the chip
         // refuses what follows too, so the load stops here.
         std::optional<std::string> failure = sdkFailureText(std::current_exception());
         if (!failure) {
            try {
               throw;
            } catch (std::exception const& e) {
               failure = e.what();
            }
         }
         err << request.path << ":" << number << ": " << *failure << "\n";
         r.data["failedLine"] = number;
         break;
      }
   }
   r.data["added"] = added;
   r.data["changed"] = changed;
   r.data["bad"] = bad;
   r.err = err.str();
   return r;
}

Command loadCommand() {
   return {{"load",
            "FILE",
            "Programs the entries of a file.",
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
