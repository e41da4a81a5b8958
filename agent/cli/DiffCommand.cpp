// diff FILE: what `load FILE` would change, line by line, without changing anything. It asks the
// agent for the entries the file names, a batch at a time, and keeps what the file made of each
// key so far (a key the file names twice is compared with what its earlier line left), so it
// holds the file's keys, not the table.
#include <iostream>
#include <unordered_map>

#include "agent/cli/Commands.h"
#include "agent/cli/EntrySpec.h"
#include "agent/cli/Format.h"
#include "agent/cli/InputError.h"
#include "agent/cli/Link.h"
#include "agent/cli/LoadLine.h"
#include "agent/cli/LoadReader.h"

namespace TwiceNatCli {

namespace {

using TwiceNatAgent::EntryOrigin;
using TwiceNatAgent::Update;
using TwiceNatAgent::UpdateKind;
using Held = std::optional<ActionValues>;  // what a key (or the default) holds; nothing: none

constexpr std::size_t kBatchKeys = 4096;

class Differ final : public UpdateSink {
 public:
   Differ(AgentLink& agent, std::string name) : agent_(agent), name_(std::move(name)) {}

   void update(Update const& u, U64 line) override {
      pending_.push_back({u, line});
      if (pending_.size() == kBatchKeys) flush();
   }
   void bad(U64 line, std::string const& why) override {
      ++bad_;
      std::cerr << name_ << ":" << line << ": " << why << "\n";
   }
   bool stopped() const override { return false; }

   int finish() {
      flush();
      std::cout << name_ << ": " << added_ << " to add, " << changed_ << " to change, " << removed_
                << " to remove, " << same_ << " unchanged";
      if (bad_) std::cout << "; " << bad_ << " bad line" << (bad_ == 1 ? "" : "s");
      std::cout << "\n";
      return bad_ ? kExitBadInput : kExitOk;
   }

 private:
   // What the table holds now for the keys (and the default) not met before.
   void ask() {
      Request get{Op::get};
      for (auto const& [u, line] : pending_) {
         bool const isDefault =
             u.kind == UpdateKind::defaultSet || u.kind == UpdateKind::defaultReset;
         if (isDefault && !defaultKnown_) get.withDefault = true;
         if (!isDefault && !held_.count(u.entry.match)) {
            get.keys.push_back(u.entry.match);
            held_[u.entry.match];  // asked for once
         }
      }
      if (get.keys.empty() && !get.withDefault) return;
      Reply const r = agent_.call(get);
      if (!r.status.ok()) throw std::runtime_error(failureText(r.status));
      for (std::size_t i = 0; i < get.keys.size() && i < r.rows.size(); ++i) {
         if (r.rows[i] && r.rows[i]->origin != EntryOrigin::missingOnChip) {
            held_[get.keys[i]] = r.rows[i]->entry.action;
         }
      }
      if (get.withDefault) {
         defaultKnown_ = true;
         if (r.defaultRow) default_ = r.defaultRow->entry.action;
      }
   }

   void flush() {
      ask();
      for (auto const& [u, line] : pending_)
         compare(u, line);
      pending_.clear();
   }

   void compare(Update const& u, U64 line) {
      bool const isDefault = u.kind == UpdateKind::defaultSet || u.kind == UpdateKind::defaultReset;
      Held& before = isDefault ? default_ : held_[u.entry.match];
      Held const after = u.kind == UpdateKind::program || u.kind == UpdateKind::defaultSet
                             ? Held(u.entry.action)
                             : Held();
      if (!before && !isDefault && u.kind == UpdateKind::remove) {
         bad(line, "no entry " + keyText(u.entry.match) + " in the table");
      } else if (before == after) {
         ++same_;
      } else if (!before) {
         ++added_;
         std::cout << "+ " << loadLineOf(u) << "\n";
      } else if (!after) {
         ++removed_;
         std::cout << "- " << loadLineOf(u).substr(2) << "   (was " << actionText(*before) << ")\n";
      } else {
         ++changed_;
         std::cout << "~ " << loadLineOf(u) << "   (was " << actionText(*before) << ")\n";
      }
      before = after;
   }

   AgentLink& agent_;
   std::string name_;
   std::vector<std::pair<Update, U64>> pending_;
   std::unordered_map<MatchKey, Held, MatchKeyHash> held_;
   Held default_;
   bool defaultKnown_ = false;
   U64 added_ = 0, changed_ = 0, removed_ = 0, same_ = 0, bad_ = 0;
};

int diff(ParsedArgs const& args, GlobalOptions const& global) {
   LoadSource source(args.positional().front(), global.timeout);
   AgentLink agent(global, false);
   Differ differ(agent, source.name());
   readUpdates(source, differ);
   return differ.finish();
}

}  // namespace

Command diffCommand() {
   return {{"diff",
            "FILE",
            "Shows what loading a file would change.",
            "Shows what 'load FILE' would change, in the order of the file, without changing "
            "anything: '+ LINE' for an entry it would add, '~ LINE (was ACTION)' for one it would "
            "change, '- KEY (was ACTION)' for one it would delete, the default as 'default "
            "ACTION'; then a count of each and of the lines that change nothing. A line 'load' "
            "would refuse is reported as FILE:LINE (exit status 2).",
            {},
            1},
           diff,
           false};
}

}  // namespace TwiceNatCli
