#include "agent/cli/Protocol.h"

namespace TwiceNatCli {

using nlohmann::json;

namespace {

json parseLine(std::string_view line, char const* what, std::size_t maxLine) {
   if (line.size() > maxLine) {
      throw ProtocolError(std::string(what) + " longer than " + std::to_string(maxLine) + " bytes");
   }
   if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
   json j = json::parse(line.begin(), line.end(), nullptr, false);
   if (j.is_discarded()) throw ProtocolError(std::string(what) + " is not JSON");
   if (!j.is_object()) throw ProtocolError(std::string(what) + " is not a JSON object");
   auto v = j.find("v");
   if (v == j.end() || !v->is_number_integer()) {
      throw ProtocolError(std::string(what) + " has no protocol version \"v\"");
   }
   if (*v != kProtocolVersion) {
      throw ProtocolError(std::string(what) + " is of protocol version " + v->dump() +
                          "; this agent speaks version " + std::to_string(kProtocolVersion));
   }
   return j;
}

template <class T>
T field(json const& j, char const* name, T fallback, bool required = false) {
   auto it = j.find(name);
   if (it == j.end()) {
      if (required) throw ProtocolError(std::string("request has no \"") + name + "\"");
      return fallback;
   }
   if constexpr (std::is_same_v<T, std::string>) {
      if (!it->is_string()) throw ProtocolError(std::string("\"") + name + "\" is not a string");
   } else if constexpr (std::is_same_v<T, U64>) {
      if (!it->is_number_unsigned()) {
         throw ProtocolError(std::string("\"") + name + "\" is not a positive whole number");
      }
   } else {
      if (!it->is_array()) throw ProtocolError(std::string("\"") + name + "\" is not a list");
      for (json const& e : *it) {
         if (!e.is_string()) {
            throw ProtocolError(std::string("\"") + name + "\" holds something not a string");
         }
      }
   }
   return it->get<T>();
}

std::string line(json const& j) {
   // Invalid UTF-8 in a file line or an argument is carried, not refused.
   return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string encode(Request const& r) {
   json j = {{"v", kProtocolVersion}, {"cmd", r.cmd}};
   if (!r.args.empty()) j["args"] = r.args;
   if (!r.path.empty()) j["path"] = r.path;
   if (r.firstLine != 1) j["first"] = r.firstLine;
   if (!r.text.empty()) j["bytes"] = r.text.size();
   return line(j) + r.text;
}

std::string encode(Reply const& r) {
   json j = {{"v", kProtocolVersion}, {"status", r.status}};
   if (!r.out.empty()) j["out"] = r.out;
   if (!r.err.empty()) j["err"] = r.err;
   if (!r.data.empty()) j["data"] = r.data;
   return line(j);
}

std::size_t textBytes(std::string_view line) {
   json const j = json::parse(line.begin(), line.end(), nullptr, false);
   if (!j.is_object()) return 0;
   auto const b = j.find("bytes");
   return b != j.end() && b->is_number_unsigned() ? b->get<std::size_t>() : 0;
}

Request parseRequest(std::string_view line, std::string_view text) {
   json const j = parseLine(line, "request", kMaxLine);
   Request r;
   r.cmd = field<std::string>(j, "cmd", "", true);
   r.args = field<std::vector<std::string>>(j, "args", {});
   r.path = field<std::string>(j, "path", "");
   r.firstLine = field<U64>(j, "first", 1);
   U64 const bytes = field<U64>(j, "bytes", 0);
   if (r.firstLine == 0) throw ProtocolError("\"first\" counts lines from 1");
   if (bytes != text.size()) {
      throw ProtocolError("request announces " + std::to_string(bytes) + " bytes of text, " +
                          std::to_string(text.size()) + " follow");
   }
   if (bytes != 0 && r.cmd != "load") throw ProtocolError("only load carries text");
   if (!text.empty() && text.back() != '\n') throw ProtocolError("text ends inside a line");
   r.text = std::string(text);
   return r;
}

Reply parseReply(std::string_view text) {
   json const j = parseLine(text, "reply", std::string::npos);
   Reply r;
   auto s = j.find("status");
   if (s == j.end() || !s->is_number_integer()) throw ProtocolError("reply has no \"status\"");
   r.status = s->get<int>();
   r.out = field<std::string>(j, "out", "");
   r.err = field<std::string>(j, "err", "");
   if (auto d = j.find("data"); d != j.end() && d->is_object()) r.data = *d;
   return r;
}

Reply refusal(std::string const& why) {
   Reply r;
   r.status = 2;
   r.err = "twicenat: bad request: " + why + "\n";
   return r;
}

}  // namespace TwiceNatCli
