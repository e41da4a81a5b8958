#include "agent/service/ReplyCodec.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "agent/service/CanonicalLines.h"
#include "agent/service/EntryFields.h"

namespace TwiceNatService {

namespace {

using Kind = JsonScalar::Kind;

void field(std::string& out, char const* name, U64 n) {
   ((out += ",\"") += name) += "\":";
   appendNumber(out, n);
}

void field(std::string& out, char const* name, std::string_view text) {
   ((out += ",\"") += name) += "\":";
   appendString(out, text);
}

void head(std::string& out, Status const& s) {
   out += "{\"v\":";
   appendNumber(out, kProtocolVersion);
   field(out, "code", codeName(s.code));
   if (!s.message.empty()) field(out, "message", s.message);
   if (s.sdkStatus) {
      out += ",\"sdkStatus\":";
      out += std::to_string(s.sdkStatus);
   }
}

void optionalRow(std::string& out, char const* name, std::optional<EntryRow> const& row,
                 bool withKey) {
   ((out += ",\"") += name) += "\":";
   if (row) {
      appendRow(out, *row, withKey);
   } else {
      out += "null";
   }
}

void batch(std::string& out, BatchReply const& b) {
   field(out, "added", b.added);
   field(out, "changed", b.changed);
   field(out, "removed", b.removed);
   if (!b.failures.empty()) {
      out += ",\"failures\":[";
      for (Failure const& f : b.failures) {
         if (out.back() != '[') out += ',';
         out += "{\"index\":";
         appendNumber(out, f.index);
         field(out, "code", codeName(f.status.code));
         field(out, "message", f.status.message);
         if (f.status.sdkStatus) {
            out += ",\"sdkStatus\":";
            out += std::to_string(f.status.sdkStatus);
         }
         out += '}';
      }
      out += ']';
   }
   if (b.aborted) field(out, "aborted", b.aborted);
   if (b.rolledBack) out += ",\"rolledBack\":true";
   if (!b.rollbackFailure.empty()) field(out, "rollbackFailure", b.rollbackFailure);
}

// The replies' fields, read into the reply of the op they answer.
class ReplyReader final : public JsonEvents {
 public:
   explicit ReplyReader(Reply* reply, Page* page) : reply_(reply), page_(page) {}

   void scalar(JsonPath path, JsonScalar const& v) override {
      if (path.size() == 1) return top(path[0].key, v, path);
      if (path.size() == 2 && path[0].key == "entries" && v.kind == Kind::null && reply_) {
         reply_->rows.emplace_back();
         return;
      }
      if (path.size() == 3 && path[0].key == "failures") return failure(path, v);
      std::optional<EntryField> const f =
          path.back().inArray ? std::nullopt : entryFieldNamed(path.back().key);
      if (!f) throw ProtocolError(pathText(path) + ": unknown field");
      fields_.take(*f, v, path);
   }
   void open(JsonPath path, bool array) override {
      fields_.clear();
      // Failures belong to a batch's reply, never to a page.
      bool const list =
          path.size() == 1 && (path[0].key == "entries" || (reply_ && path[0].key == "failures"));
      bool const record = (path.size() == 1 && path[0].key == "default") ||
                          (path.size() == 2 && path[0].key != "default");
      if (!path.empty() && !(array ? list : record)) {
         throw ProtocolError(pathText(path) + ": not where a reply has it");
      }
      if (path.size() == 2 && path[0].key == "failures") reply_->batch.failures.emplace_back();
   }
   void close(JsonPath path, bool array, std::size_t) override {
      if (array || path.empty()) return;
      if (path[0].key == "failures") {
         if (reply_->batch.failures.back().status.code == Code::ok) {
            throw ProtocolError(pathText(path) + " has no \"code\"");
         }
         return;
      }
      EntryRow const row = fields_.row(path);
      if (path[0].key == "default") {
         (page_ ? page_->defaultRow : reply_->defaultRow) = row;
      } else if (page_) {
         page_->rows.push_back(row);
      } else {
         reply_->rows.emplace_back(row);
      }
   }

 private:
   static Code codeOf(JsonScalar const& v, std::string const& where) {
      std::optional<Code> c = v.kind == Kind::string ? codeNamed(v.text) : std::nullopt;
      if (!c) throw ProtocolError(where + ": no status code");
      return *c;
   }
   static U64 number(JsonScalar const& v, JsonPath path) {
      if (v.kind != Kind::unsignedNumber) throw ProtocolError(pathText(path) + ": not a count");
      return v.number;
   }
   static std::string text(JsonScalar const& v, JsonPath path) {
      if (v.kind != Kind::string) throw ProtocolError(pathText(path) + ": not a string");
      return std::string(v.text);
   }
   static I32 sdkStatus(JsonScalar const& v, JsonPath path) {
      if (v.kind != Kind::unsignedNumber && v.kind != Kind::negativeNumber) {
         throw ProtocolError(pathText(path) + ": not a status number");
      }
      return v.kind == Kind::unsignedNumber ? I32(v.number) : I32(std::stol(std::string(v.text)));
   }

   void failure(JsonPath path, JsonScalar const& v) {
      Failure& f = reply_->batch.failures.back();
      std::string_view const k = path.back().key;
      if (k == "index") {
         f.index = number(v, path);
      } else if (k == "code") {
         f.status.code = codeOf(v, pathText(path));
      } else if (k == "message") {
         f.status.message = text(v, path);
      } else if (k == "sdkStatus") {
         f.status.sdkStatus = sdkStatus(v, path);
      } else {
         throw ProtocolError(pathText(path) + ": unknown field");
      }
   }

   void top(std::string_view k, JsonScalar const& v, JsonPath path) {
      Status& s = page_ ? page_->status : reply_->status;
      if (k == "v") {
         if (v.kind != Kind::unsignedNumber || v.number != U64(kProtocolVersion)) {
            throw ProtocolError("a reply of another protocol version than " +
                                std::to_string(kProtocolVersion));
         }
         version_ = true;
      } else if (k == "code") {
         s.code = codeOf(v, "reply");
         code_ = true;
      } else if (k == "message") {
         s.message = text(v, path);
      } else if (k == "sdkStatus") {
         s.sdkStatus = sdkStatus(v, path);
      } else if (page_) {
         pageField(k, v, path);
      } else {
         replyField(k, v, path);
      }
   }

   void pageField(std::string_view k, JsonScalar const& v, JsonPath path) {
      if (k == "last" && v.kind == Kind::boolean) {
         page_->last = v.boolean;
      } else if (k == "matching") {
         page_->matching = number(v, path);
      } else if (k == "total") {
         page_->total = number(v, path);
      } else if (k == "default" && v.kind == Kind::null) {
         page_->defaultRow.reset();
      } else {
         throw ProtocolError(pathText(path) + ": not a field of a page");
      }
   }

   void replyField(std::string_view k, JsonScalar const& v, JsonPath path) {
      Reply& r = *reply_;
      if (k == "change") {
         std::string const t = text(v, path);
         for (Change c : {Change::none, Change::added, Change::changed, Change::removed}) {
            if (changeName(c) == t) r.programmed.change = c;
         }
      } else if (k == "dst" || k == "src" || k == "vrf") {
         taken_.take(*entryFieldNamed(k), v, path);
      } else if (k == "handle") {
         r.programmed.handle = U32(number(v, path));
      } else if (k == "key") {
         r.programmed.key = number(v, path);
      } else if (k == "added" || k == "changed" || k == "removed" || k == "aborted") {
         U64 const n = number(v, path);
         (k == "added"     ? r.batch.added
          : k == "changed" ? r.batch.changed
          : k == "removed" ? r.batch.removed
                           : r.batch.aborted) = n;
      } else if (k == "rolledBack" && v.kind == Kind::boolean) {
         r.batch.rolledBack = v.boolean;
      } else if (k == "rollbackFailure") {
         r.batch.rollbackFailure = text(v, path);
      } else if (k == "default" && v.kind == Kind::null) {
         r.defaultRow.reset();
      } else if (k == "pid") {
         r.figures.pid = I64(number(v, path));
      } else if (k == "stateDir") {
         r.figures.stateDir = text(v, path);
      } else if (k == "entries") {
         r.figures.entries = number(v, path);
      } else if (k == "uptimeSeconds" && v.kind != Kind::string) {
         r.figures.uptimeSeconds =
             v.kind == Kind::unsignedNumber ? double(v.number) : std::stod(std::string(v.text));
      } else if (k == "requestsServed") {
         r.figures.requestsServed = number(v, path);
      } else if (k == "clients") {
         r.figures.clients = number(v, path);
      } else if (k == "version") {
         r.figures.version = text(v, path);
      } else {
         throw ProtocolError(pathText(path) + ": not a field of a reply");
      }
   }

 public:
   void finish() {
      if (!version_) throw ProtocolError("a reply without its protocol version");
      if (!code_) throw ProtocolError("a reply without its status code");
      if (reply_ && taken_.anyGiven({EntryField::dst, EntryField::src, EntryField::vrf})) {
         JsonStep const reply{"reply"};
         reply_->taken = taken_.key(JsonPath(&reply, 1));
      }
   }

 private:
   Reply* reply_;
   Page* page_;
   EntryFields fields_;
   EntryFields taken_;
   bool version_ = false, code_ = false;
};

constexpr JsonLimits kReplyLimits{3, 32, 0};

}  // namespace

std::string_view changeName(Change change) {
   switch (change) {
      case Change::none:
         return "none";
      case Change::added:
         return "added";
      case Change::changed:
         return "changed";
      case Change::removed:
         return "removed";
   }
   return "?";
}

void encodeReply(Op op, Reply const& r, std::string& out) {
   head(out, r.status);
   bool const batchOp = op == Op::apply || op == Op::part || op == Op::commit || op == Op::rollback;
   if (op == Op::clear && !r.status.ok()) field(out, "removed", r.batch.removed);
   if (r.status.ok() || batchOp) {
      switch (op) {
         case Op::status:
            field(out, "pid", U64(r.figures.pid));
            field(out, "stateDir", r.figures.stateDir);
            field(out, "entries", r.figures.entries);
            {
               char up[32];
               std::snprintf(up, sizeof up, "%.3f", r.figures.uptimeSeconds);
               (out += ",\"uptimeSeconds\":") += up;
            }
            field(out, "requestsServed", r.figures.requestsServed);
            field(out, "clients", r.figures.clients);
            field(out, "version", r.figures.version);
            break;
         case Op::stop:
            field(out, "pid", U64(r.figures.pid));
            break;
         case Op::chip:
            (out += ",\"chip\":") += r.chip;
            break;
         case Op::get:
            out += ",\"entries\":[";
            for (std::optional<EntryRow> const& row : r.rows) {
               if (out.back() != '[') out += ',';
               if (row) {
                  appendRow(out, *row, true);
               } else {
                  out += "null";
               }
            }
            out += ']';
            optionalRow(out, "default", r.defaultRow, false);
            break;
         case Op::insert:
         case Op::modify:
         case Op::program:
         case Op::remove:
         case Op::defaultSet:
         case Op::defaultReset:
            field(out, "change", changeName(r.programmed.change));
            if (r.programmed.handle) field(out, "handle", r.programmed.handle);
            if (r.programmed.key) field(out, "key", r.programmed.key);
            if (r.taken) appendKey(out, *r.taken);
            break;
         case Op::clear:
            field(out, "removed", r.batch.removed);
            field(out, "change", changeName(r.programmed.change));
            break;
         default:
            if (batchOp) batch(out, r.batch);
            break;
      }
   }
   out += "}\n";
}

void encodePage(Page const& p, std::string& out) {
   head(out, p.status);
   out += ",\"entries\":[";
   for (EntryRow const& row : p.rows)
      appendRow(out, row, true);
   out += "],\"last\":";
   out += p.last ? "true" : "false";
   if (p.last) {
      field(out, "matching", p.matching);
      field(out, "total", p.total);
      optionalRow(out, "default", p.defaultRow, false);
   }
   out += "}\n";
}

Reply parseReply(Op op, std::string_view line) {
   Reply r;
   if (op == Op::chip) {
      // The chip's figures are passed on as they are.
      nlohmann::json const j = nlohmann::json::parse(line, nullptr, false);
      if (!j.is_object() || j.value("v", 0) != kProtocolVersion || !j.contains("code")) {
         throw ProtocolError("not a reply of protocol version " + std::to_string(kProtocolVersion));
      }
      r.status.code = codeNamed(j.value("code", "")).value_or(Code::internal);
      r.status.message = j.value("message", "");
      if (j.contains("chip")) r.chip = j["chip"].dump();
      return r;
   }
   ReplyReader reader(&r, nullptr);
   readJson(line, reader, kReplyLimits);
   reader.finish();
   return r;
}

void parsePage(std::string_view line, Page& page) {
   if (!readCanonicalPage(line, page)) parsePageInFull(line, page);
}

void parsePageInFull(std::string_view line, Page& page) {
   page.rows.clear();
   page.last = false;
   page.matching = page.total = 0;
   page.defaultRow.reset();
   page.status = {};
   ReplyReader reader(nullptr, &page);
   readJson(line, reader, kReplyLimits);
   reader.finish();
   // A refusal, or the line of a client cut off, ends the show.
   if (!page.status.ok()) page.last = true;
}

}  // namespace TwiceNatService
