#include "agent/cli/LoadReader.h"

#include "agent/cli/InputError.h"
#include "agent/cli/LoadLine.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatCli {

namespace {

using namespace TwiceNatService;
using TwiceNatAgent::EntryOrigin;
using TwiceNatAgent::Update;
using TwiceNatAgent::UpdateKind;

// Ends the reading of a document the sink no longer wants.
struct Stop {};

// The events of a `show --json` document, as updates.
class ExportReader final : public JsonEvents {
 public:
   ExportReader(LoadSource& source, UpdateSink& sink) : source_(source), sink_(sink) {}

   void scalar(JsonPath path, JsonScalar const& v) override {
      if (path.size() == 1) {
         std::string_view const k = path[0].key;
         if (k == "default" && v.kind == JsonScalar::Kind::null) {
            deliver(Update{UpdateKind::defaultReset, {}});
         } else if (k != "matching" && k != "total" && k != "staleRecords") {
            throw ProtocolError(pathText(path) + ": not a field of what 'show --json' prints");
         }
         return;
      }
      if (!why_.empty()) return;
      std::optional<EntryField> const f =
          path.back().inArray ? std::nullopt : entryFieldNamed(path.back().key);
      try {
         if (!f) throw ProtocolError(pathText(path) + ": unknown field");
         fields_.take(*f, v, path);
      } catch (ProtocolError const& e) {
         why_ = e.what();
      }
   }
   void open(JsonPath path, bool array) override {
      bool const list = path.size() == 1 && path[0].key == "entries";
      bool const row = (path.size() == 1 && path[0].key == "default") ||
                       (path.size() == 2 && path[0].key == "entries");
      if (!path.empty() && !(array ? list : row)) {
         throw ProtocolError(pathText(path) + ": not where 'show --json' puts it");
      }
      fields_.clear();
      why_.clear();
   }
   void close(JsonPath path, bool array, std::size_t) override {
      if (array || path.empty()) return;
      bool const isDefault = path[0].key == "default";
      try {
         if (!why_.empty()) throw ProtocolError(why_);
         EntryRow const row = fields_.row(path);
         if (row.origin == EntryOrigin::missingOnChip) {
            throw ProtocolError(pathText(path) +
                                ": an entry the chip lost, with no action to load");
         }
         deliver(isDefault ? Update{UpdateKind::defaultSet, {{}, row.entry.action}}
                           : Update{UpdateKind::program, row.entry});
      } catch (ProtocolError const& e) {
         sink_.bad(source_.line, e.what());
      }
   }

 private:
   void deliver(Update const& u) {
      sink_.update(u, source_.line);
      if (sink_.stopped()) throw Stop{};
   }

   LoadSource& source_;
   UpdateSink& sink_;
   EntryFields fields_;
   std::string why_;  // what is wrong with the row being read
};

}  // namespace

void readUpdates(LoadSource& source, UpdateSink& sink) {
   if (source.json()) {
      ExportReader reader(source, sink);
      try {
         readJson(source, reader, JsonLimits{2, 64, LoadSource::kMaxLine});
      } catch (Stop const&) {
      } catch (ProtocolError const& e) {
         sink.bad(source.line, e.what());
      }
      return;
   }
   LoadSource::Line line;
   while (!sink.stopped() && source.next(line)) {
      if (line.tooLong) {
         sink.bad(line.number, "a line longer than " + std::to_string(LoadSource::kMaxLine) +
                                   " bytes is no entry");
         continue;
      }
      try {
         if (std::optional<Update> const u = parseLoadLine(line.text)) sink.update(*u, line.number);
      } catch (InputError const& e) {
         sink.bad(line.number, e.what());
      }
   }
}

}  // namespace TwiceNatCli
