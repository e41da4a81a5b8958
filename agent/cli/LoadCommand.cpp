// load FILE: the updates of a file (or of standard input), streamed to the agent in batches,
// each line checked in full before it goes.
#include <deque>
#include <iomanip>
#include <iostream>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "agent/cli/LoadReader.h"
#include "agent/cli/ProgressBar.h"
#include "agent/service/RequestCodec.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::BatchMode;
using TwiceNatAgent::Update;
using TwiceNatService::BatchReply;

// Updates of one request: a few milliseconds of the agent's work, so that others are served
// between two.
constexpr std::size_t kPartUpdates = 4096;
// Batches sent ahead of their replies: the file is read while the agent programs.
constexpr std::size_t kInFlight = 2;
// Bad or failed lines reported one by one; past them, a count.
constexpr U64 kShownLines = 20;

class Loader final : public UpdateSink {
 public:
   Loader(AgentLink& agent, LoadSource& source, BatchMode mode)
       : agent_(agent), source_(source), mode_(mode), bar_(source.size().value_or(0), "bytes") {
      part_.op = mode == BatchMode::continueOnError ? Op::apply : Op::part;
      // The agent makes room for the whole file at once rather than part by part.
      U64 const expect = source.lineCount().value_or(0);
      if (part_.op == Op::part) {
         Request begin{Op::begin};
         begin.mode = mode;
         begin.expect = expect;
         agent_.call(begin);
      } else {
         part_.expect = expect;
      }
   }

   void update(Update const& u, U64 line) override {
      part_.updates.push_back(u);
      lines_.push_back(line);
      if (part_.updates.size() == kPartUpdates) send();
   }

   void bad(U64 line, std::string const& why) override {
      ++bad_;
      report(line, why);
      if (mode_ == BatchMode::rollbackOnError) failedAt_ = failedAt_.value_or(line);
   }

   bool stopped() const override {
      return failedAt_.has_value() && mode_ == BatchMode::rollbackOnError;
   }

   // Sends what is left and closes the batch; the exit status.
   int finish() {
      if (!stopped()) send();
      while (agent_.inFlight())
         collect();
      if (part_.op == Op::part) {
         bool const keep = mode_ == BatchMode::rollbackOnError && !failedAt_;
         agent_.call(Request{keep ? Op::commit : Op::rollback});
      }
      bar_.finish();
      return summary();
   }

   // What the agent acknowledged, for a load it did not see to its end.
   std::string acknowledged() const {
      return "lines 1 to " + std::to_string(acknowledgedLine_) + " of " + source_.name() +
             " were acknowledged (" + counts() + ")";
   }

 private:
   void send() {
      if (part_.updates.empty()) return;
      if (agent_.inFlight() >= kInFlight) collect();
      bar_.update(source_.consumed());
      if (stopped()) return;
      agent_.submit(part_);
      inFlight_.push_back(std::move(lines_));
      part_.expect = 0;  // said once, with the first part
      part_.updates.clear();
      lines_.clear();
   }

   void collect() {
      Reply const r = agent_.collect();
      std::vector<U64> const lines = std::move(inFlight_.front());
      inFlight_.pop_front();
      if (!r.status.ok()) throw std::runtime_error(failureText(r.status));
      BatchReply const& b = r.batch;
      added_ += b.added;
      changed_ += b.changed;
      removed_ += b.removed;
      for (auto const& f : b.failures) {
         U64 const line = f.index < lines.size() ? lines[f.index] : 0;
         ++(exitStatusOf(f.status) == kExitBadInput ? refused_ : failed_);
         report(line, failureText(f.status));
         if (b.rolledBack) failedAt_ = failedAt_.value_or(line);
      }
      if (b.rolledBack) failedAt_ = failedAt_.value_or(lines.empty() ? 0 : lines.front());
      if (!lines.empty()) acknowledgedLine_ = lines.back();
   }

   void report(U64 line, std::string const& why) {
      // Above the bar, which stays drawn.
      if (++reported_ <= kShownLines) {
         bar_.print(source_.name() + ":" + std::to_string(line) + ": " + why + "\n");
      }
   }

   std::string counts() const {
      return std::to_string(added_) + " added, " + std::to_string(changed_) + " changed" +
             (removed_ ? ", " + std::to_string(removed_) + " removed" : "");
   }

   int summary() {
      if (reported_ > kShownLines) {
         std::cerr << source_.name() << ": " << reported_ - kShownLines
                   << " more bad or failed lines not shown\n";
      }
      double const secs =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      U64 const done = added_ + changed_ + removed_;
      int const status = failed_ ? kExitSdkFailure : (bad_ || refused_) ? kExitBadInput : kExitOk;
      std::ostream& out = std::cout;
      if (mode_ == BatchMode::rollbackOnError && failedAt_) {
         out << source_.name() << ": nothing programmed: line " << *failedAt_
             << " failed, and the load was rolled back (--atomic)\n";
         return status;
      }
      out << source_.name() << ": " << done << " entries "
          << (mode_ == BatchMode::dryRun ? "would be programmed" : "programmed") << " (" << counts()
          << ")";
      if (mode_ != BatchMode::dryRun) {
         out << " in " << std::fixed << std::setprecision(3) << secs << " s, "
             << std::setprecision(0) << (secs > 0 ? double(done) / secs : 0.0) << " entries/s";
      }
      if (bad_ + refused_) {
         U64 const n = bad_ + refused_;
         out << "; " << n << " bad line" << (n == 1 ? "" : "s") << " skipped";
      }
      if (failed_) out << "; " << failed_ << " line" << (failed_ == 1 ? "" : "s") << " failed";
      if (mode_ == BatchMode::dryRun) out << "; nothing was changed (--dry-run)";
      out << "\n";
      return status;
   }

   AgentLink& agent_;
   LoadSource& source_;
   BatchMode mode_;
   ProgressBar bar_;
   Request part_;
   std::vector<U64> lines_;
   std::deque<std::vector<U64>> inFlight_;
   U64 added_ = 0, changed_ = 0, removed_ = 0, bad_ = 0, refused_ = 0, failed_ = 0;
   U64 reported_ = 0, acknowledgedLine_ = 0;
   std::optional<U64> failedAt_;
   std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

int load(ParsedArgs const& args, GlobalOptions const& global) {
   if (args.has("atomic") && args.has("dry-run")) {
      throw InputError("--atomic and --dry-run exclude each other");
   }
   BatchMode const mode = args.has("atomic")    ? BatchMode::rollbackOnError
                          : args.has("dry-run") ? BatchMode::dryRun
                                                : BatchMode::continueOnError;
   LoadSource source(args.positional().front(), global.timeout);
   AgentLink agent(global, mode != BatchMode::dryRun);
   Loader loader(agent, source, mode);
   try {
      readUpdates(source, loader);
      return loader.finish();
   } catch (LinkError const& e) {
      std::string what = std::string(e.what()) + "; " + loader.acknowledged();
      if (mode == BatchMode::rollbackOnError) {
         what += e.agentGone ? "; the load was never committed, and what the agent did of it "
                               "may stay: its next start keeps every entry as it was or as the "
                               "load made it"
                             : "; the agent rolled the load back";
      }
      throw LinkError(what, e.agentGone);
   }
}

}  // namespace

Command loadCommand() {
   return {{"load",
            "FILE [--atomic | --dry-run]",
            "Programs the updates of a file.",
            "Programs the updates of FILE ('-' for standard input), one per line:\n"
            "  DST SRC VRF ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]   add or change\n"
            "  - DST SRC VRF                                                      delete\n"
            "  default ACTION [KEY-ID RW-ID PROT FRAG NEXT-HOP|ECMP-GROUP]        set the default\n"
            "  - default                                                          reset it\n"
            "(VRF '-' for none; onMiss takes no parameters), or the system's text form as 'show "
            "--text' prints it (a leading '-' deletes), or the JSON object 'show --json' prints. "
            "Blank lines and '#' comments are skipped. The file streams: any length, a FIFO or a "
            "pipe. A bad line is reported as FILE:LINE and changes nothing; the others are "
            "programmed (the first 20 bad lines are shown, then a count). Exit status 2 when any "
            "line was bad, 1 when any failed in the SDK.",
            {{"atomic", "",
              "all or nothing: the first bad or failed line rolls back every "
              "change of the load (other writers wait meanwhile)"},
             {"dry-run", "", "check every line against the table, change nothing"}},
            1},
           load,
           true};
}

}  // namespace TwiceNatCli
