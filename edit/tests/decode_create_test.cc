// decode_create_request / decode_list_request: the same strict rules and
// message forms as the edit request, each failure with its line and column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/decode.h"

namespace tuvel {
namespace {

enum class As { Create, List };

struct Case {
  As as;
  std::string text;
  std::string message;
};

template <class T>
std::string outcome(const Result<T>& result) {
  return result.ok() ? std::string("ok") : result.error().render();
}

std::string decode(As as, const std::string& text) {
  return as == As::Create ? outcome(decode_create_request(text)) : outcome(decode_list_request(text));
}

constexpr As C = As::Create;
constexpr As L = As::List;

TEST(DecodeCreate, FailuresAreReportedWhereTheyStand) {
  const std::vector<Case> cases = {
      {C, R"({"path":"a"})", "missing field `text` at line 1 column 12"},
      {C, R"({"text":"b"})", "missing field `path` at line 1 column 12"},
      {C, R"({"path":"a","text":"b","x":1})", "unknown field `x`, expected one of `path`, `text`, `parents` at line 1 column 26"},
      {C, R"({"path":"a","path":"b"})", "duplicate field `path` at line 1 column 18"},
      {C, R"({"path":"a","text":"b","parents":true,"parents":true})", "duplicate field `parents` at line 1 column 47"},
      {C, R"({"path":1,"text":"b"})", "invalid type: integer `1`, expected a string at line 1 column 9"},
      {C, R"({"path":"a","text":["b"]})", "invalid type: sequence, expected a string at line 1 column 19"},
      {C, R"({"path":"a","text":"b","parents":"yes"})", "invalid type: string \"yes\", expected a boolean at line 1 column 38"},
      {C, R"({"path":"a","text":"b","parents":null})", "invalid type: null, expected a boolean at line 1 column 37"},
      {C, R"({"path":"a","text":"b","parents":1})", "invalid type: integer `1`, expected a boolean at line 1 column 34"},
      {C, R"({"path":"a","text":"b","parents":tru})", "expected ident at line 1 column 37"},
      {C, R"({"path":"a","text":"b","parents":false,})", "trailing comma at line 1 column 40"},
      {C, R"({"path":"a","text":"b"} x)", "trailing characters at line 1 column 25"},
      {C, R"({"path":"a","text":"b"}})", "trailing characters at line 1 column 24"},
      {C, R"({"path":"a",)", "EOF while parsing a value at line 1 column 12"},
      {C, R"({"path":"a")", "EOF while parsing an object at line 1 column 11"},
      {C, R"({"path":"a" "text":"b"})", "expected `,` or `}` at line 1 column 13"},
      {C, R"({path:"a"})", "key must be a string at line 1 column 2"},
      {C, "{\n  \"path\": \"a\",\n  \"txt\": 1\n}", "unknown field `txt`, expected one of `path`, `text`, `parents` at line 3 column 7"},
      {C, R"([])", "invalid length 0, expected struct CreateRequest with 3 elements at line 1 column 2"},
      {C, R"(["a"])", "invalid length 1, expected struct CreateRequest with 3 elements at line 1 column 5"},
      {C, R"(["a","b",true,1])", "trailing characters at line 1 column 15"},
      {C, R"(["a","b",1])", "invalid type: integer `1`, expected a boolean at line 1 column 10"},
      {C, "5", "invalid type: integer `5`, expected struct CreateRequest at line 1 column 1"},
      {C, "", "EOF while parsing a value at line 1 column 0"},
      {C, "   \n", "EOF while parsing a value at line 2 column 0"},
      {L, R"([])", "invalid length 0, expected struct ListRequest with 1 element at line 1 column 2"},
      {L, R"(["a","b"])", "trailing characters at line 1 column 6"},
      {L, R"({"path":5})", "invalid type: integer `5`, expected a string at line 1 column 9"},
      {L, R"({"path":{}})", "invalid type: map, expected a string at line 1 column 8"},
      {L, R"({"paths":"x"})", "unknown field `paths`, expected `path` at line 1 column 8"},
      {L, R"({"path":"a","path":"b"})", "duplicate field `path` at line 1 column 18"},
      {L, R"({"path":nul})", "expected ident at line 1 column 12"},
      {L, R"({"path":"a"}])", "trailing characters at line 1 column 13"},
      {L, "null", "invalid type: null, expected struct ListRequest at line 1 column 4"},
      {L, R"("src")", "invalid type: string \"src\", expected struct ListRequest at line 1 column 5"},
      {L, "{", "EOF while parsing an object at line 1 column 1"},
  };
  for (const Case& c : cases) EXPECT_EQ(decode(c.as, c.text), c.message) << c.text;
}

TEST(DecodeCreate, CreateRecordsAsWritten) {
  const auto full = decode_create_request(R"( {"parents":true, "text":"hi\n\u00e9\u0000", "path":"a/b.txt"} )" "\n");
  ASSERT_TRUE(full.ok()) << full.error().render();
  EXPECT_EQ(full->path, "a/b.txt");
  EXPECT_EQ(full->text, std::string("hi\n\xC3\xA9\0", 6));
  EXPECT_TRUE(full->parents);

  const auto plain = decode_create_request(R"({"path":"x","text":""})");
  ASSERT_TRUE(plain.ok()) << plain.error().render();
  EXPECT_EQ(plain->text, "");
  EXPECT_FALSE(plain->parents);

  const auto array = decode_create_request(R"(["x","y"])");
  ASSERT_TRUE(array.ok()) << array.error().render();
  EXPECT_EQ(array->path, "x");
  EXPECT_EQ(array->text, "y");
  EXPECT_FALSE(array->parents);
  const auto array_full = decode_create_request(R"(["x","y",true])");
  ASSERT_TRUE(array_full.ok()) << array_full.error().render();
  EXPECT_TRUE(array_full->parents);
}

TEST(DecodeCreate, ListRecordsAsWritten) {
  struct Listed {
    std::string text;
    std::optional<std::string> path;
  };
  const std::vector<Listed> cases = {
      {"{}", std::nullopt},
      {R"({"path":null})", std::nullopt},
      {R"({"path":"src"})", "src"},
      {R"({"path":""})", ""},
      {R"(["src/"])", "src/"},
      {"[null]", std::nullopt},
  };
  for (const Listed& c : cases) {
    const auto request = decode_list_request(c.text);
    ASSERT_TRUE(request.ok()) << c.text << ": " << request.error().render();
    EXPECT_EQ(request->path, c.path) << c.text;
  }
}

}  // namespace
}  // namespace tuvel
