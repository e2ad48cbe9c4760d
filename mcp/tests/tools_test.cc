// SPDX-License-Identifier: Apache-2.0
// The tools through the real binary: the tools/list entries, each tool's
// answers compared byte for byte with what tuvel-edit gives for the same
// request, the argument faults the decoder finds as tool errors, and the
// repository kept for the whole session.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "session.h"

namespace tuvel::mcp {
namespace {

using nlohmann::ordered_json;
using testing::call_request;
using testing::error_payload;
using testing::rpc_error;
using testing::session;
using testing::tool_answer;
using tuvel::testing::RunOptions;
using tuvel::testing::TempDir;
using tuvel::testing::digest;

constexpr const char* kContent = "alpha\nbeta\ngamma\nbeta\n";

void fill(const TempDir& dir) {
  dir.write("a.txt", kContent);
  dir.write("sub/b.txt", "b\n");
}

/// The one answer line of a session on `dir` for `request`.
std::string answer(const TempDir& dir, const std::string& request) {
  auto run = session(dir.path(), {request});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  if (!run.out.empty() && run.out.back() == '\n') run.out.pop_back();
  return run.out;
}

/// tuvel-edit's envelope for one batch line, as a tool payload: the "data"
/// value, or {"error":...}.
std::string edit_payload(const TempDir& dir, const std::string& op, const std::string& request) {
  RunOptions options;
  options.input = R"({"op":")" + op + R"(","request":)" + request + "}\n";
  const auto run = tuvel::testing::run_edit({"--repo", dir.path(), "batch"}, options);
  std::string line = run.out.substr(0, run.out.find('\n'));
  const std::string ok_tail = R"(,"ok":true,"version":1})";
  const std::string failed_tail = R"(,"ok":false,"version":1})";
  if (line.rfind(R"({"data":)", 0) == 0 && line.size() > ok_tail.size()) {
    return line.substr(8, line.size() - 8 - ok_tail.size());
  }
  return line.substr(0, line.size() - failed_tail.size()) + "}";
}

std::string schema_file(const std::string& name) {
  std::ifstream in(std::string(TUVEL_SCHEMA_DIR) + "/" + name + ".json");
  std::stringstream text;
  text << in.rdbuf();
  ordered_json schema = ordered_json::parse(text.str());
  schema.erase("$schema");
  schema.erase("$id");
  return schema.dump();
}

TEST(McpTools, ListNamesEveryToolWithItsSchemasAndHints) {
  TempDir dir;
  const ordered_json list = ordered_json::parse(answer(dir, R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})"));
  const ordered_json& tools = list["result"]["tools"];
  const struct {
    std::string name, input, data;
    bool read_only, destructive, idempotent;
  } expected[] = {
      {"read", "read-request", "read-data", true, false, true},
      {"preview", "edit-request", "edit-data", true, false, true},
      {"apply", "edit-request", "edit-data", false, true, false},
      {"create", "create-request", "create-data", false, false, false},
      {"list", "list-request", "list-data", true, false, true},
      {"search", "search-request", "search-data", true, false, true},
      {"find", "find-request", "find-data", true, false, true},
      {"move", "move-request", "move-data", false, true, false},
      {"remove", "remove-request", "remove-data", false, true, false},
      {"apply_changes", "apply-changes-request", "apply-changes-data", false, true, false},
  };
  ASSERT_EQ(tools.size(), std::size(expected));
  for (std::size_t i = 0; i < tools.size(); ++i) {
    const ordered_json& tool = tools[i];
    const auto& e = expected[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(tool["name"], e.name);
    EXPECT_TRUE(tool["title"].is_string());
    EXPECT_GT(tool["description"].get<std::string>().size(), 200U);
    // Argument faults come back as tool errors, so each description names them.
    EXPECT_NE(tool["description"].get<std::string>().find("io_or_request: the arguments were refused"),
              std::string::npos);
    EXPECT_EQ(tool["inputSchema"].dump(), schema_file(e.input));
    EXPECT_EQ(tool["outputSchema"].dump(),
              R"({"type":"object","anyOf":[)" + schema_file(e.data) + "," + schema_file("error") + "]}");
    const ordered_json hints = {{"title", tool["title"]},     {"readOnlyHint", e.read_only},
                                {"destructiveHint", e.destructive}, {"idempotentHint", e.idempotent},
                                {"openWorldHint", false}};
    EXPECT_EQ(tool["annotations"], hints);
  }
  // Descriptions tell an agent what to do on the codes it can meet.
  for (const char* code : {"stale_revision", "busy", "concurrent_change", "match_count", "invalid_range",
                           "overlapping_edits", "io_or_request", "result exceeds 16 MiB", "request exceeds 2 MiB"}) {
    EXPECT_NE(tools[2]["description"].get<std::string>().find(code), std::string::npos) << code;
  }
  // An edit's result over 16 MiB is io_or_request; size_limit is not an answer an edit within the bounds gets.
  EXPECT_EQ(tools[2]["description"].get<std::string>().find("size_limit"), std::string::npos);
  EXPECT_NE(tools[0]["description"].get<std::string>().find("output_limit"), std::string::npos);
}

TEST(McpTools, ReadPreviewAndApplyAnswerWhatTuvelEditAnswers) {
  const std::string rev = digest(kContent);
  const std::string stale = std::string(64, '0');
  const auto edit = [](const std::string& revision, const std::string& edits) {
    return R"({"path":"a.txt","revision":")" + revision + R"(","edits":)" + edits + "}";
  };
  const std::string replace_beta = R"([{"kind":"replace","old":"beta","new":"BETA","count":2}])";
  const struct {
    std::string tool;
    std::string arguments;  // compact, as the server writes them again
    bool is_error;
  } cases[] = {
      {"read", R"({"files":[{"path":"a.txt"}]})", false},
      {"read", R"({"files":[{"path":"a.txt","start":2,"end":4},{"path":"sub/b.txt","end":null}]})", false},
      {"read", R"({"files":[{"path":"a.txt","start":9}]})", true},
      {"read", R"({"files":[{"path":"missing.txt"}]})", true},
      {"read", R"({"files":[{"path":"../a.txt"}]})", true},
      {"read", R"({"files":[]})", true},
      {"preview", edit(rev, replace_beta), false},
      {"preview", edit(rev, R"([{"kind":"lines","start":1,"end":2,"text":"A\n"}])"), false},
      {"preview", edit(stale, replace_beta), true},
      {"preview", edit(rev, R"([{"kind":"replace","old":"beta","new":"B","count":1}])"), true},
      {"preview", edit(rev, R"([{"kind":"lines","start":7,"end":8,"text":""}])"), true},
      {"preview", edit(rev, R"([{"kind":"lines","start":1,"end":3,"text":""},{"kind":"lines","start":2,"end":3,"text":""}])"), true},
      {"preview", edit("xyz", replace_beta), true},
      {"apply", edit(rev, replace_beta), false},
      {"apply", edit(stale, replace_beta), true},
      {"apply", edit(rev, "[]"), true},
  };
  int id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.arguments);
    // Each side gets a repository of its own: an apply changes it.
    TempDir mine;
    TempDir theirs;
    fill(mine);
    fill(theirs);
    const std::string payload = edit_payload(theirs, c.tool, c.arguments);
    EXPECT_EQ(payload.rfind(R"({"error":)", 0) == 0, c.is_error) << payload;
    ++id;
    EXPECT_EQ(answer(mine, call_request(id, c.tool, c.arguments)), tool_answer(id, payload, c.is_error));
    EXPECT_EQ(mine.read("a.txt"), theirs.read("a.txt"));
  }
}

TEST(McpTools, ApplyPublishesAndAStaleRevisionChangesNothing) {
  TempDir dir;
  fill(dir);
  const std::string rev = digest(kContent);
  const std::string args = R"({"path":"a.txt","revision":")" + rev +
                           R"(","edits":[{"kind":"replace","old":"gamma","new":"GAMMA","count":1}]})";
  const std::string after = "alpha\nbeta\nGAMMA\nbeta\n";
  const auto run = session(dir.path(), {call_request(1, "apply", args), call_request(2, "apply", args)});
  const std::string applied = R"({"applied":true,"bytes_after":22,"bytes_before":22,"changed":true,)"
                              R"("durability_warning":null,"path":"a.txt","replacements":1,"revision_after":")" +
                              digest(after) + R"(","revision_before":")" + rev + R"("})";
  const std::string refused = error_payload(
      "stale_revision", "source changed; current revision is " + digest(after) + "; read the affected range and retry");
  EXPECT_EQ(run.out, tool_answer(1, applied) + "\n" + tool_answer(2, refused, true) + "\n");
  EXPECT_EQ(dir.read("a.txt"), after);
}

TEST(McpTools, CreateMakesOnlyNewFilesAndListShowsThem) {
  TempDir dir;
  fill(dir);
  const auto run = session(
      dir.path(),
      {call_request(1, "create", R"({"path":"new/c.txt","text":"caf\u00e9\n","parents":true})"),
       call_request(2, "create", R"({"path":"a.txt","text":"overwritten\n"})"),
       call_request(3, "create", R"({"path":"none/d.txt","text":""})"),
       call_request(4, "list", "{}"), call_request(5, "list", R"({"path":"new"})"),
       call_request(6, "list", R"({"path":"a.txt"})")});
  const std::string created = R"({"bytes":6,"durability_warning":null,"path":"new/c.txt","revision":")" +
                              digest("caf\xC3\xA9\n") + R"("})";
  EXPECT_EQ(run.out,
            tool_answer(1, created) + "\n" +
                tool_answer(2, error_payload("io_or_request", "File exists (os error 17)"), true) + "\n" +
                tool_answer(3, error_payload("io_or_request", "No such file or directory (os error 2)"), true) +
                "\n" +
                tool_answer(4, R"({"entries":[{"kind":"file","name":"a.txt","size":22},{"kind":"directory","name":"new"},)"
                               R"({"kind":"directory","name":"sub"}],"next":null,"path":".","truncated":false})") +
                "\n" +
                tool_answer(5, R"({"entries":[{"kind":"file","name":"c.txt","size":6}],"next":null,"path":"new","truncated":false})") +
                "\n" + tool_answer(6, error_payload("io_or_request", "Not a directory (os error 20)"), true) + "\n");
  EXPECT_EQ(dir.read("a.txt"), kContent);
  EXPECT_EQ(dir.read("new/c.txt"), "caf\xC3\xA9\n");
}

TEST(McpTools, EditArgumentFaultsAreToolErrorsWithTheDecodersMessage) {
  TempDir dir;
  fill(dir);
  // The same text on apply's standard input gives the message (position included).
  const std::string cases[] = {
      R"({"path":"a.txt","edits":[]})",
      R"({"path":1,"revision":"r","edits":[]})",
      R"({"path":"a.txt","revision":"r","edits":[{"kind":"replace","old":"a","new":"b","count":-1}]})",
      R"({"path":"a.txt","revision":"r","edits":[{"kind":"move"}]})",
      R"({"path":"a.txt","revision":"r","edits":[],"extra":true})",
      R"({"path":"a.txt","revision":"r","edits":[{"kind":"lines","start":1.5,"end":2,"text":""}]})",
  };
  int id = 0;
  for (const auto& args : cases) {
    SCOPED_TRACE(args);
    RunOptions options;
    options.input = args;
    const auto edit = tuvel::testing::run_edit({"--repo", dir.path(), "apply", "--preview"}, options);
    const ordered_json envelope = ordered_json::parse(edit.out);
    ASSERT_EQ(envelope["error"]["code"], "io_or_request");
    ++id;
    for (const char* tool : {"preview", "apply"}) {
      EXPECT_EQ(answer(dir, call_request(id, tool, args)),
                tool_answer(id, error_payload("io_or_request", envelope["error"]["message"].get<std::string>()), true));
    }
  }
  EXPECT_EQ(dir.read("a.txt"), kContent);
}

TEST(McpTools, DecoderFaultsAreToolErrorsAndCallFaultsInvalidParams) {
  TempDir dir;
  fill(dir);
  const std::string unknown = "unknown tool `write`, expected one of `read`, `preview`, `apply`, `create`, `list`, `search`, `find`, `move`, `remove`, `apply_changes`";
  const struct {
    std::string params;
    std::string answer;
  } cases[] = {
      {R"({"name":"write","arguments":{}})", rpc_error("3", -32602, unknown)},
      {R"({"arguments":{}})", rpc_error("3", -32602, "name must be a string")},
      {R"({"name":["read"]})", rpc_error("3", -32602, "name must be a string")},
      {R"({"name":"read","arguments":[{"files":[]}]})", rpc_error("3", -32602, "arguments must be an object")},
      {R"({"name":"read","arguments":"{}"})", rpc_error("3", -32602, "arguments must be an object")},
      // Missing arguments are an empty object; positions are those of the compact arguments text.
      {R"({"name":"read"})", tool_answer(3, error_payload("io_or_request", "missing field `files` at line 1 column 2"), true)},
      {R"({"name":"read","arguments":{ "files" : [ { "path" : "a.txt" , "start" : -2 } ] }})",
       tool_answer(3, error_payload("io_or_request", "invalid value: integer `-2`, expected usize at line 1 column 36"), true)},
      {R"({"name":"read","arguments":{"files":[{"path":"a.txt","begin":1}]}})",
       tool_answer(3, error_payload("io_or_request", "unknown field `begin`, expected one of `path`, `start`, `end` at line 1 column 33"), true)},
      {R"({"name":"read","arguments":{"files":"a.txt"}})",
       tool_answer(3, error_payload("io_or_request", "invalid type: string \"a.txt\", expected a sequence at line 1 column 16"), true)},
      {R"({"name":"create","arguments":{"path":"x","text":"y","parents":1}})",
       tool_answer(3, error_payload("io_or_request", "invalid type: integer `1`, expected a boolean at line 1 column 34"), true)},
      {R"({"name":"list","arguments":{"path":"x","more":1}})",
       tool_answer(3, error_payload("io_or_request", "unknown field `more`, expected `path` or `cursor` at line 1 column 18"), true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(answer(dir, R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":)" + c.params + "}"), c.answer);
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"a.txt", "sub"}));
}

TEST(McpTools, EditRequestsKeepTheTwoMebibyteBound) {
  TempDir dir;
  fill(dir);
  const std::string head = R"({"path":"a.txt","revision":")" + digest(kContent) +
                           R"(","edits":[{"kind":"replace","old":"beta","new":")";
  const std::string tail = R"(","count":2}]})";
  const std::size_t bound = std::size_t{2} * 1024 * 1024;
  const std::string fits = head + std::string(bound - head.size() - tail.size(), 'x') + tail;
  const std::string over = head + std::string(bound - head.size() - tail.size() + 1, 'x') + tail;
  const auto run = session(dir.path(), {call_request(1, "preview", fits), call_request(2, "preview", over)});
  const auto second = run.out.find('\n') + 1;
  EXPECT_NE(run.out.find(R"("isError":false)"), std::string::npos);
  EXPECT_EQ(run.out.substr(second),
            tool_answer(2, error_payload("io_or_request", "request exceeds 2 MiB"), true) + "\n");
}

TEST(McpTools, AnEditWhoseResultExceeds16MiBIsIoOrRequestAsTheDescriptionSays) {
  TempDir dir;
  const std::string big(std::size_t{16} * 1024 * 1024, 'x');
  dir.write("big.txt", big);
  const std::string args = R"({"path":"big.txt","revision":")" + digest(big) +
                           R"(","edits":[{"kind":"lines","start":1,"end":1,"text":"y"}]})";
  const std::string refused = error_payload("io_or_request", "result exceeds 16 MiB");
  const auto run = session(dir.path(), {call_request(1, "preview", args), call_request(2, "apply", args)});
  EXPECT_EQ(run.out, tool_answer(1, refused, true) + "\n" + tool_answer(2, refused, true) + "\n");
  EXPECT_EQ(dir.read("big.txt"), big);
}

constexpr const char* kMoved = "repository was moved or replaced; restart the server";

void must(bool done, const char* what) { ASSERT_TRUE(done) << what << ": " << std::strerror(errno); }

TEST(McpTools, TheSessionKeepsTheRepositoryItOpenedAndNeverFollowsItsPath) {
  // base/up/repo is served; base/other and base/decoy/repo are what a
  // neighbour puts in its place.
  const struct {
    std::string name;
    std::string repo;  // under the base, as given to --repo
    void (*swap)(const TempDir& base);
    bool served;  // the session still serves its own directory
  } cases[] = {
      {"repository renamed, a link in its place", "up/repo",
       [](const TempDir& b) {
         must(::rename((b / "up/repo").c_str(), (b / "up/old").c_str()) == 0, "rename");
         must(::symlink((b / "other").c_str(), (b / "up/repo").c_str()) == 0, "symlink");
       },
       false},
      {"directory above renamed, a link in its place", "up/repo",
       [](const TempDir& b) {
         must(::rename((b / "up").c_str(), (b / "up.old").c_str()) == 0, "rename");
         must(::symlink((b / "decoy").c_str(), (b / "up").c_str()) == 0, "symlink");
       },
       false},
      {"repository replaced by another directory", "up/repo",
       [](const TempDir& b) {
         must(::rename((b / "up/repo").c_str(), (b / "up/old").c_str()) == 0, "rename");
         b.write("up/repo/a.txt", "new\n");
       },
       false},
      {"the link given retargeted", "link",
       [](const TempDir& b) {
         must(::unlink((b / "link").c_str()) == 0, "unlink");
         must(::symlink((b / "other").c_str(), (b / "link").c_str()) == 0, "symlink");
       },
       true},
  };
  const std::string mine = R"({"files":[{"end":2,"path":"a.txt","revision":")" + digest("mine\n") +
                           R"(","start":1,"text":"mine\n","total_lines":1,"truncated":false}]})";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir base;
    base.write("up/repo/a.txt", "mine\n");
    base.write("other/a.txt", "other\n");
    base.write("decoy/repo/a.txt", "decoy\n");
    ASSERT_EQ(::symlink((base / "up/repo").c_str(), (base / "link").c_str()), 0);

    tuvel::testing::Child server(testing::mcp_binary(), {"--repo", base / c.repo});
    server.write(testing::initialize_request("2025-11-25") + "\n");
    EXPECT_EQ(server.read_line(), testing::initialize_answer("2025-11-25"));
    const std::string read = R"({"files":[{"path":"a.txt"}]})";
    server.write(call_request(1, "read", read) + "\n");
    EXPECT_EQ(server.read_line(), tool_answer(1, mine));

    c.swap(base);
    const std::string calls[] = {
        call_request(2, "read", read),
        call_request(3, "list", "{}"),
        call_request(4, "create", R"({"path":"planted.txt","text":"x"})"),
        call_request(5, "apply", R"({"path":"a.txt","revision":")" + digest("other\n") +
                                     R"(","edits":[{"kind":"lines","start":1,"end":2,"text":"changed\n"}]})"),
    };
    for (const auto& call : calls) server.write(call + "\n");
    const auto moved = [](int id) { return tool_answer(id, error_payload("io_or_request", kMoved), true); };
    if (c.served) {
      EXPECT_EQ(server.read_line(), tool_answer(2, mine));
      EXPECT_NE(server.read_line()->find(R"("entries":[{"kind":"file","name":"a.txt","size":5}])"), std::string::npos);
      EXPECT_NE(server.read_line()->find(R"("isError":false)"), std::string::npos);
      EXPECT_NE(server.read_line()->find("stale_revision"), std::string::npos);
      EXPECT_EQ(base.read("up/repo/planted.txt"), "x");
    } else {
      for (int id = 2; id <= 5; ++id) EXPECT_EQ(server.read_line(), moved(id)) << id;
      EXPECT_NE(::access((base / "up/repo/planted.txt").c_str(), F_OK), 0);
    }
    EXPECT_EQ(server.wait(), 0);
    // Nothing the neighbour put there was read or changed.
    EXPECT_EQ(base.list("other"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(base.read("other/a.txt"), "other\n");
    EXPECT_EQ(base.list("decoy/repo"), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(base.read("decoy/repo/a.txt"), "decoy\n");
  }
}

}  // namespace
}  // namespace tuvel::mcp
