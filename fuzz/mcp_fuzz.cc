// SPDX-License-Identifier: Apache-2.0
// Fuzz target for the MCP message handler. The input is split into lines
// (line feeds kept, as the server reads them), each handed to one Server
// working on a fresh temporary repository; unless the input starts with '!'
// an initialize comes first, so tools run (with '#' it negotiates 2025-03-26,
// the revision that takes batches). A line "@N|head|open|close|tail" stands
// for head, N times open, N times close, tail: deep and wide documents from
// short seeds. Besides crashes it checks that
// - the line scanner and the JSON library agree on what is JSON (numbers
//   beyond a double's range are not), and the tool arguments' text the
//   decoder gets reads back as the library reads the arguments,
// - every answer is one well-formed JSON-RPC 2.0 response on one line: an
//   object of "jsonrpc":"2.0", an "id" (null, string or number) and either a
//   "result" or an "error" holding just an integer code and a string message,
//   and it carries the request's id whenever it names one,
// - a tool result's text content is its structuredContent, and an error
//   result holds just {"error":{"code","message"}},
// - notifications and responses get no answer and every other line gets one;
//   a batch gets an array of the answers its members get,
// - nothing outside the repository changes: the directory around it, and a
//   file and a directory that the repository reaches only through links.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "../mcp/src/arguments_text.h"
#include "../mcp/src/envelope.h"
#include "../mcp/src/json_scan.h"
#include "../mcp/src/parse_failure.h"
#include "../mcp/src/schema_texts.h"
#include "../mcp/src/server.h"

using nlohmann::ordered_json;

// The build of the program compiles the schema files in; here they are read
// from the source tree once.
std::string_view tuvel::mcp::schema_text(std::string_view name) {
  static std::map<std::string, std::string, std::less<>> texts;
  auto it = texts.find(name);
  if (it == texts.end()) {
    const std::string here = __FILE__;
    const std::string root = here.substr(0, here.rfind("/fuzz/"));
    std::ifstream in(root + "/schema/" + std::string(name) + ".json");
    std::stringstream text;
    text << in.rdbuf();
    it = texts.emplace(std::string(name), text.str()).first;
  }
  return it->second;
}

namespace {

[[noreturn]] void fail(const char* what, std::string_view line, std::string_view answer) {
  std::fprintf(stderr, "%s\n  line (%zu bytes): %.*s\n  answer: %.*s\n", what, line.size(),
               static_cast<int>(line.size() > 400 ? 400 : line.size()), line.data(),
               static_cast<int>(answer.size() > 400 ? 400 : answer.size()), answer.data());
  std::abort();
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::set<std::string> names(const std::string& dir) {
  std::set<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") out.insert(name);
    }
    ::closedir(d);
  }
  return out;
}

/// base/{outside.txt, outdir/kept.txt, repo/}; the repository links to both.
struct Place {
  std::string base;
  std::string repo;

  Place() {
    char pattern[] = "/tmp/tuvel-mcp-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    base = pattern;
    repo = base + "/repo";
    put(base + "/outside.txt", "outside\n");
    ::mkdir((base + "/outdir").c_str(), 0755);
    put(base + "/outdir/kept.txt", "kept\n");
  }

  void reset() const {
    ::nftw(
        repo.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
    ::mkdir(repo.c_str(), 0755);
    put(repo + "/a.txt", "alpha\nbeta\ngamma\n");
    ::mkdir((repo + "/sub").c_str(), 0755);
    put(repo + "/sub/b.txt", "b\n");
    (void)::symlink("../outside.txt", (repo + "/link").c_str());
    (void)::symlink("../outdir", (repo + "/dir").c_str());
  }

  void check_outside(std::string_view input) const {
    if (slurp(base + "/outside.txt") != "outside\n" || slurp(base + "/outdir/kept.txt") != "kept\n" ||
        names(base) != std::set<std::string>{"outdir", "outside.txt", "repo"} ||
        names(base + "/outdir") != std::set<std::string>{"kept.txt"}) {
      fail("something outside the repository changed", input, "");
    }
  }
};

/// Whether a message must get an answer, judged from it alone; `id` is its
/// id when it has one that an answer carries.
bool wants_answer(const ordered_json& parsed, const ordered_json*& id) {
  id = nullptr;
  if (!parsed.is_object()) return true;
  const bool response = parsed.contains("result") || parsed.contains("error");
  const auto found = parsed.find("id");
  if (found == parsed.end()) {
    const auto method = parsed.find("method");
    return !((method != parsed.end() && method->is_string()) || response);
  }
  if (found->is_string() || found->is_number()) id = &*found;
  return !(id != nullptr && !parsed.contains("method") && response);
}

/// The scanner refuses exactly what the JSON library refuses, and the text
/// the decoder gets for a call's arguments reads back as the arguments.
void check_scanner(std::string_view line, const std::optional<ordered_json>& parsed) {
  std::string_view text = line;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  const tuvel::mcp::Checked checked = tuvel::mcp::check_json(text);
  // The library takes a NUL byte for the end of the text; the scanner refuses it.
  if (text.find('\0') != std::string_view::npos) return;
  if (checked.fault.has_value() != !ordered_json::accept(text)) fail("scanner and library disagree", line, "");
  // The description of a syntax fault is the library's, word for word.
  if (checked.fault && checked.fault->kind == tuvel::mcp::ScanFault::Kind::Syntax &&
      checked.fault->offset - checked.fault->scalar <= 4096) {
    try {
      (void)ordered_json::parse(text);
    } catch (const ordered_json::parse_error& e) {
      const std::string_view what = e.what();
      if (what.substr(what.find("] ") + 2) != tuvel::mcp::parse_failure(text, *checked.fault)) {
        fail("fault described otherwise", line, tuvel::mcp::parse_failure(text, *checked.fault));
      }
    }
  }
  if (!parsed || !parsed->is_object() || checked.value.type != tuvel::mcp::JsonType::Object) return;
  const tuvel::mcp::Envelope envelope = tuvel::mcp::read_envelope(checked.value.text);
  if (!envelope.params || envelope.params->type != tuvel::mcp::JsonType::Object || checked.depth > 512) return;
  const tuvel::mcp::ParamsMembers params = tuvel::mcp::read_params(envelope.params->text);
  if (!params.arguments) return;
  // Compared as unordered objects: of a repeated key the last is kept, in its own place.
  const nlohmann::json arguments = nlohmann::json::parse(parsed->at("params").at("arguments").dump());
  if (nlohmann::json::parse(tuvel::mcp::arguments_text(params.arguments->text)) != arguments) {
    fail("arguments text reads back otherwise", line, tuvel::mcp::arguments_text(params.arguments->text));
  }
}

void check_tool_result(const ordered_json& result, std::string_view line, std::string_view answer) {
  if (!result.contains("content")) return;  // not a tools/call
  const ordered_json& content = result["content"];
  if (!content.is_array() || content.size() != 1 || content[0].size() != 2 || content[0]["type"] != "text" ||
      !content[0]["text"].is_string() || !result["isError"].is_boolean() || result.size() != 3) {
    fail("malformed tool result", line, answer);
  }
  const ordered_json structured = ordered_json::parse(content[0]["text"].get<std::string>());
  if (structured != result["structuredContent"] || !structured.is_object()) {
    fail("text content and structuredContent differ", line, answer);
  }
  if (result["isError"].get<bool>()) {
    const auto& error = structured["error"];
    if (structured.size() != 1 || !error.is_object() || error.size() != 2 || !error["code"].is_string() ||
        !error["message"].is_string()) {
      fail("malformed error result", line, answer);
    }
  }
}

void check_response(const ordered_json& message, const ordered_json* id, std::string_view line,
                    std::string_view answer) {
  if (!message.is_object() || message.size() != 3 || message["jsonrpc"] != "2.0" || !message.contains("id")) {
    fail("answer is no JSON-RPC response", line, answer);
  }
  const ordered_json& answered_id = message["id"];
  if (!answered_id.is_null() && !answered_id.is_string() && !answered_id.is_number()) fail("bad id", line, answer);
  if (!answered_id.is_null() && (id == nullptr || answered_id != *id)) fail("answer names another id", line, answer);
  if (message.contains("error")) {
    const ordered_json& error = message["error"];
    if (!error.is_object() || error.size() != 2 || !error["code"].is_number_integer() || !error["message"].is_string()) {
      fail("malformed error", line, answer);
    }
  } else if (!message.contains("result") || !message["result"].is_object()) {
    fail("answer has neither result nor error", line, answer);
  } else {
    check_tool_result(message["result"], line, answer);
  }
}

void check_answer(std::string_view line, const std::optional<std::string>& answer, bool batches) {
  std::optional<ordered_json> request;
  try {
    request = ordered_json::parse(line);
  } catch (const ordered_json::exception&) {
    // Not JSON, or a number beyond a double's range: one error answer.
  }
  check_scanner(line, request);
  const ordered_json* id = nullptr;
  const bool batch = batches && request && request->is_array() && !request->empty();
  std::size_t wanted = 0;
  if (batch) {
    for (const ordered_json& member : *request) wanted += wants_answer(member, id) ? 1 : 0;
  } else {
    wanted = !request || wants_answer(*request, id) ? 1 : 0;
  }
  if (!answer) {
    if (wanted != 0) fail("no answer to a request", line, "");
    return;
  }
  if (wanted == 0) fail("a notification or response was answered", line, *answer);
  if (answer->find('\n') != std::string::npos) fail("answer spans lines", line, *answer);
  ordered_json message;
  try {
    message = ordered_json::parse(*answer);
  } catch (const ordered_json::exception&) {
    fail("answer is not JSON", line, *answer);
  }
  if (!batch) return check_response(message, id, line, *answer);
  if (!message.is_array() || message.size() != wanted) fail("batch answered otherwise", line, *answer);
  std::size_t next = 0;
  for (const ordered_json& member : *request) {
    if (wants_answer(member, id)) check_response(message[next++], id, line, *answer);
  }
}

/// Whether an answer is that of an initialize that negotiated 2025-03-26.
bool negotiates_batches(const std::optional<std::string>& answer) {
  if (!answer) return false;
  const ordered_json message = ordered_json::parse(*answer, nullptr, false);
  if (!message.is_object() || !message.contains("result")) return false;
  const ordered_json& result = message["result"];
  return result.is_object() && result.contains("serverInfo") && result.value("protocolVersion", "") == "2025-03-26";
}

/// The line a "@N|head|open|close|tail" line stands for, or the line itself.
std::string expanded(std::string_view line) {
  if (line.empty() || line[0] != '@') return std::string(line);
  std::string_view parts[5];
  std::string_view rest = line.substr(1);
  if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
  for (int i = 0; i < 4; ++i) {
    const std::size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return std::string(line);
    parts[i] = rest.substr(0, bar);
    rest.remove_prefix(bar + 1);
  }
  parts[4] = rest;
  std::size_t times = 0;
  for (const char c : parts[0]) {
    if (c < '0' || c > '9' || times > 100000000) return std::string(line);
    times = times * 10 + static_cast<std::size_t>(c - '0');
  }
  // A quarter MiB at most, so each run stays quick under the sanitizers.
  const std::size_t unit = parts[2].size() + parts[3].size();
  if (unit == 0 || times > (std::size_t{256} << 10) / unit) return std::string(line);
  std::string out(parts[1]);
  for (std::size_t i = 0; i < times; ++i) out += parts[2];
  for (std::size_t i = 0; i < times; ++i) out += parts[3];
  out += parts[4];
  out += '\n';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Place place;
  place.reset();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // Opened after the reset, as the program opens it at start-up.
  auto repo = tuvel::open_repo(place.repo);
  if (!repo.ok()) fail("repository cannot be opened", input, repo.error().render());
  tuvel::mcp::Server server(std::move(repo).value());
  bool batches = false;
  if (!input.empty() && input[0] == '!') {
    input.remove_prefix(1);
  } else {
    batches = !input.empty() && input[0] == '#';
    if (batches) input.remove_prefix(1);
    const std::string version = batches ? "2025-03-26" : "2025-11-25";
    (void)server.handle(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":")" + version +
                        "\"}}");
  }
  while (!input.empty()) {
    const std::size_t feed = input.find('\n');
    const std::size_t length = feed == std::string_view::npos ? input.size() : feed + 1;
    const std::string line = expanded(input.substr(0, length));
    input.remove_prefix(length);
    const std::optional<std::string> answer = server.handle(line);
    check_answer(line, answer, batches);
    batches = batches || negotiates_batches(answer);
  }
  place.check_outside(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
