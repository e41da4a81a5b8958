#pragma once
// What a command and the agent serving its state folder say to each other over the folder's
// socket: one JSON request per line, one JSON reply per line, both with the protocol version
// "v". docs/protocol.md describes the messages.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Zin/Types.h"

namespace TwiceNatCli {

constexpr int kProtocolVersion = 1;
// No request line, nor the text after one, is longer (a load batch is sized to stay well
// below); replies, which show makes as long as the table, have no cap.
constexpr std::size_t kMaxLine = std::size_t(4) << 20;

// A request the agent cannot take: not JSON, another version, missing or mistyped fields.
class ProtocolError : public std::runtime_error {
 public:
   explicit ProtocolError(std::string const& message) : std::runtime_error(message) {}
};

struct Request {
   std::string cmd;                // a command's name as typed ("set", "chip show"), or "load",
                                   // "status", "stop"
   std::vector<std::string> args;  // the command's arguments as typed
   // load: a batch of the file's lines, each ending in a newline; the first is line
   // `firstLine` (from 1) of `path`. On the socket the batch follows the request's line as it
   // is, announced by its size, so that neither side builds or scans it as JSON.
   std::string path;
   U64 firstLine = 1;
   std::string text;
};

struct Reply {
   int status = 0;                                  // the command's exit status
   std::string out;                                 // what it prints on standard output
   std::string err;                                 // and on standard error
   nlohmann::json data = nlohmann::json::object();  // load counts, status figures
};

// One line, newline included; a request's text follows its line.
std::string encode(Request const& request);
std::string encode(Reply const& reply);
// The size of the text that follows a request line: 0 when it announces none (or is no
// request, which parseRequest then refuses).
std::size_t textBytes(std::string_view line);
// ProtocolError naming what is wrong; `text` is what followed the line (textBytes of it).
Request parseRequest(std::string_view line, std::string_view text = {});
Reply parseReply(std::string_view line);

// The reply to a request that could not be taken (exit status 2).
Reply refusal(std::string const& why);

}  // namespace TwiceNatCli
