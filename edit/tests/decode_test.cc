// SPDX-License-Identifier: Apache-2.0
// decode_request / decode_edit_request, and the create and list decoders that
// share their rules: every failure is one exact message with its line and
// column; successes give the records as written.
#include "protocol/decode.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace tuvel {
namespace {

enum class As { Request, EditRequest, Create, List };

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
  switch (as) {
    case As::Request: return outcome(decode_request(text));
    case As::EditRequest: return outcome(decode_edit_request(text));
    case As::Create: return outcome(decode_create_request(text));
    case As::List: return outcome(decode_list_request(text));
  }
  return "unreachable";
}

constexpr As R = As::Request;
constexpr As E = As::EditRequest;
constexpr As C = As::Create;
constexpr As L = As::List;

const std::vector<Case>& failure_cases() {
  static const std::vector<Case> cases = {
      // The envelope.
      {R, "{\"op\":\"read\"}\n", "missing field `request` at line 1 column 13"},
      {R, R"({"op":"write"})", "unknown variant `write`, expected one of `read`, `preview`, `apply` at line 1 column 13"},
      {R, R"({})", "missing field `op` at line 1 column 2"},
      {R, R"({"request":{"files":[]}})", "missing field `op` at line 1 column 24"},
      {R, R"({"op":"read","request":{"files":[]},"op":"read"})", "duplicate field `op` at line 1 column 40"},
      {R, R"({"op":"read","request":{"files":[]},"request":1})", "duplicate field `request` at line 1 column 45"},
      {R, R"({"op":"read","op":"read"})", "duplicate field `op` at line 1 column 17"},
      {R, R"({"op":"read","request":{"files":[]},"x":1})", "invalid value: string \"x\", expected \"op\" or \"request\" at line 1 column 39"},
      {R, R"({"x" : 1})", "invalid value: string \"x\", expected \"op\" or \"request\" at line 1 column 4"},
      {R, R"({"a\"\\\n\u0001b":1})", R"(invalid value: string "a\"\\\n\u{1}b", expected "op" or "request" at line 1 column 17)"},
      {R, R"({"op":5})", "expected value at line 1 column 7"},
      {R, R"({"op":null})", "expected value at line 1 column 7"},
      {R, R"({"op":[]})", "expected value at line 1 column 7"},
      {R, R"({"op":{"apply":1}})", "invalid type: integer `1`, expected unit at line 1 column 16"},
      {R, R"({"op":{"read":null,"x":1},"request":{"files":[]}})", "expected value at line 1 column 19"},
      {R, R"({"op":{"read":null x})", "expected value at line 1 column 20"},
      {R, R"({"request":{"files":[]},"op":{"read":null,})", "expected value at line 1 column 42"},
      {R, R"({"op":{"read":null)", "EOF while parsing an object at line 1 column 18"},
      {R, R"({"op":{},"request":{"files":[]}})", "expected value at line 1 column 8"},
      {R, R"({"op":{5:null},"request":{"files":[]}})", "key must be a string at line 1 column 8"},
      {R, "{\"op\":{\x15:null}", "key must be a string at line 1 column 8"},
      {R, R"({"op":{ []:null}})", "key must be a string at line 1 column 9"},
      {R, R"({"request":{"files":[]},"op":{null:null}})", "key must be a string at line 1 column 31"},
      {R, "{\"op\":{\n", "EOF while parsing an object at line 2 column 0"},
      {R, R"({"op":{"x":null}})", "unknown variant `x`, expected one of `read`, `preview`, `apply` at line 1 column 10"},
      {R, R"({"op":{"read" null}})", "expected `:` at line 1 column 15"},
      {R, R"({"op":)", "EOF while parsing a value at line 1 column 6"},
      {R, R"({"op")", "EOF while parsing an object at line 1 column 5"},
      {R, R"({"op":"read",})", "trailing comma at line 1 column 14"},
      {R, R"({"op":"read" "request":1})", "expected `,` or `}` at line 1 column 14"},
      {R, R"({"op":"read","request":5})", "invalid type: integer `5`, expected struct ReadRequest at line 1 column 24"},
      {R, R"({"op":"read","request":[]})", "invalid length 0, expected struct ReadRequest with 1 element at line 1 column 25"},
      {R, R"({"op":"read","request":[[],1]})", "trailing characters at line 1 column 28"},
      {R, R"({"op":"read","request":{"files":[]}}garbage)", "trailing characters at line 1 column 37"},
      {R, "5", "invalid type: integer `5`, expected adjacently tagged enum Request at line 1 column 1"},
      {R, "null", "invalid type: null, expected adjacently tagged enum Request at line 1 column 4"},
      {R, R"("x")", "invalid type: string \"x\", expected adjacently tagged enum Request at line 1 column 3"},
      {R, "\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
      {R, "{'op':1}", "key must be a string at line 1 column 2"},
      // The array form of the envelope.
      {R, R"([])", "invalid length 0, expected adjacently tagged enum Request at line 1 column 2"},
      {R, R"(["read"])", "invalid length 1, expected adjacently tagged enum Request at line 1 column 8"},
      {R, R"(["read",{"files":[]},1])", "trailing characters at line 1 column 22"},
      {R, R"(["read",{"files":[]},])", "trailing comma at line 1 column 22"},
      {R, R"([5,{}])", "invalid type: integer `5`, expected variant identifier at line 1 column 2"},
      {R, R"(["x",{}])", "unknown variant `x`, expected one of `read`, `preview`, `apply` at line 1 column 4"},
      {R, R"(["read",{"files":[["a.md"]]}])", "invalid length 2, expected struct ReadSpec with 3 elements at line 1 column 26"},
      {R, "[\"read\",{\"files\":[]}\n", "EOF while parsing a list at line 2 column 0"},
      // Empty and blank texts.
      {E, "", "EOF while parsing a value at line 1 column 0"},
      {R, "", "EOF while parsing a value at line 1 column 0"},
      {R, "\n", "EOF while parsing a value at line 2 column 0"},
      {R, "  \t \r\n", "EOF while parsing a value at line 2 column 0"},
      // File entries.
      {R, R"({"op":"apply","request":{"revision":"r","edits":[]}})", "missing field `path` at line 1 column 51"},
      {R, R"({"op":"read","request":{"files":[{"path":"a.md","start":0.5}]}})", "invalid type: floating point `0.5`, expected usize at line 1 column 59"},
      {R, R"({"op":"read","request":{"files":[{"path":"a.md","start":-2}]}})", "invalid value: integer `-2`, expected usize at line 1 column 58"},
      {R, R"({"op":"read","request":{"files":[{"path":"a.md","limit":3}]}})", "unknown field `limit`, expected one of `path`, `start`, `end` at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a.md","limit" : 3}]}})", "unknown field `limit`, expected one of `path`, `start`, `end` at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a.md","start":null}]}})", "invalid type: null, expected usize at line 1 column 60"},
      {R, R"({"op":"read","request":{"files":[{"path":"a.md","path":"b"}]}})", "duplicate field `path` at line 1 column 54"},
      {R, R"({"op":"read","request":{"files":[{"start":1}]}})", "missing field `path` at line 1 column 44"},
      {R, R"({"op":"read","request":{"files":[{"path":"a"} , {"path" :1}]}})", "invalid type: integer `1`, expected a string at line 1 column 58"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","end":"x"}]}})", "invalid type: string \"x\", expected usize at line 1 column 54"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","end":-1}]}})", "invalid value: integer `-1`, expected usize at line 1 column 53"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":true}]}})", "invalid type: boolean `true`, expected usize at line 1 column 57"},
      {R, R"({"op":"read","request":{"files":[{"path":false}]}})", "invalid type: boolean `false`, expected a string at line 1 column 46"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":[1]}]}})", "invalid type: sequence, expected usize at line 1 column 53"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":{}}]}})", "invalid type: map, expected usize at line 1 column 53"},
      {R, R"({"op":"read","request":{"files":[5]}})", "invalid type: integer `5`, expected struct ReadSpec at line 1 column 34"},
      {R, R"({"op":"read","request":{"files":{}}})", "invalid type: map, expected a sequence at line 1 column 32"},
      {R, R"({"op":"read","request":{"files":"x"}})", "invalid type: string \"x\", expected a sequence at line 1 column 35"},
      {R, R"(["read",{"files":[["a",1,null,2]]}])", "trailing characters at line 1 column 31"},
      {R, R"(["read",{"files":[["a",1,null,]]}])", "trailing comma at line 1 column 31"},
      {R, R"(["read",{"files":[[]]}])", "invalid length 0, expected struct ReadSpec with 3 elements at line 1 column 20"},
      {R, R"({"op":"read","request":{"p\u0061th":1}})", "unknown field `path`, expected `files` at line 1 column 35"},
      // Numbers in integer fields.
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":01}]}})", "invalid number at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":-01}]}})", "invalid number at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e2}]}})", "invalid type: floating point `100.0`, expected usize at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1E2}]}})", "invalid type: floating point `100.0`, expected usize at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":12.5e-1}]}})", "invalid type: floating point `1.25`, expected usize at line 1 column 60"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1.0}]}})", "invalid type: floating point `1.0`, expected usize at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":-0}]}})", "invalid type: floating point `-0.0`, expected usize at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":0.001}]}})", "invalid type: floating point `0.001`, expected usize at line 1 column 58"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":0.0000001}]}})", "invalid type: floating point `1e-7`, expected usize at line 1 column 62"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e15}]}})", "invalid type: floating point `1000000000000000.0`, expected usize at line 1 column 57"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e16}]}})", "invalid type: floating point `1e16`, expected usize at line 1 column 57"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":18446744073709551616}]}})", "invalid type: floating point `1.8446744073709552e19`, expected usize at line 1 column 73"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":123456789012345678901234567890}]}})", "invalid type: floating point `1.2345678901234568e29`, expected usize at line 1 column 83"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":-9223372036854775808}]}})", "invalid value: integer `-9223372036854775808`, expected usize at line 1 column 73"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":-9223372036854775809}]}})", "invalid type: floating point `-9.223372036854776e18`, expected usize at line 1 column 73"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e400}]}})", "number out of range at line 1 column 58"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e99999999999}]}})", "number out of range at line 1 column 65"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e-99999999999}]}})", "invalid type: floating point `0.0`, expected usize at line 1 column 67"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1.}]}})", "invalid number at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1.)", "EOF while parsing a value at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e}]}})", "invalid number at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":1e+)", "EOF while parsing a value at line 1 column 56"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":-}]}})", "invalid number at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":-)", "EOF while parsing a value at line 1 column 54"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":+1}]}})", "expected value at line 1 column 54"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":.5}]}})", "expected value at line 1 column 54"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":NaN}]}})", "expected value at line 1 column 54"},
      // Strings.
      {R, R"({"op":"read","request":{"files":[{"path":"a\qb"}]}})", "invalid escape at line 1 column 45"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\uZZ"}]}})", "invalid escape at line 1 column 49"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\u12)", "EOF while parsing a string at line 1 column 47"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\)", "EOF while parsing a string at line 1 column 44"},
      {R, R"({"op":"read","request":{"files":[{"path":"ab)", "EOF while parsing a string at line 1 column 44"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\uDC00"}]}})", "lone leading surrogate in hex escape at line 1 column 49"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\uD800\u0041"}]}})", "lone leading surrogate in hex escape at line 1 column 55"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\uD800"}]}})", "unexpected end of hex escape at line 1 column 50"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\uD800\n"}]}})", "unexpected end of hex escape at line 1 column 51"},
      {R, R"({"op":"read","request":{"files":[{"path":"a\uD800)", "EOF while parsing a string at line 1 column 49"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"a\tb\"}]}}", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 44"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"a\xFF\"}]}}", "invalid unicode code point at line 1 column 45"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"\xC0\x80\"}]}}", "invalid unicode code point at line 1 column 45"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"\xED\xA0\x80\"}]}}", "invalid unicode code point at line 1 column 46"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"\xE2\x82\"}]}}", "invalid unicode code point at line 1 column 45"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"\xFF\\q\"}]}}", "invalid escape at line 1 column 45"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"pa\xFFth\":1}]}}", "invalid unicode code point at line 1 column 41"},
      {R, R"({"op":"read","request":{"files":[{"path":"a","start":"x\ty\u0001\"\\\r\n\u0000\u007f\u0085é"}]}})",
       R"(invalid type: string "x\ty\u{1}\"\\\r\n\0\u{7f}\u{85}é", expected usize at line 1 column 93)"},
      // Literals and separators.
      {R, R"({"op":"read","request":{"files":[{"path":tru}]}})", "expected ident at line 1 column 45"},
      {R, R"({"op":"read","request":{"files":[{"path":nul)", "EOF while parsing a value at line 1 column 44"},
      {R, R"({"op":"read","request":{"files":[{"path":x}]}})", "expected value at line 1 column 42"},
      {R, R"({"op":"read","request":{"files":[{"path":"a" "start":1}]}})", "expected `,` or `}` at line 1 column 46"},
      {R, R"({"op":"read","request":{"files":[{"path" "a"}]}})", "expected `:` at line 1 column 42"},
      {R, R"({"op":"read","request":{"files":[{"path":"a",}]}})", "trailing comma at line 1 column 46"},
      {R, R"({"op":"read","request":{"files":[{"path":"a"},]}})", "trailing comma at line 1 column 47"},
      {R, R"({"op":"read","request":{"files":[{"path":"a"} {}]}})", "expected `,` or `]` at line 1 column 47"},
      {R, R"({"op":"read","request":{"files":[{1:2}]}})", "key must be a string at line 1 column 35"},
      {R, R"({"op":"read","request":{"files":[{"path":"a"}]}} x)", "trailing characters at line 1 column 50"},
      {R, R"({"op":"read","request":{"files":[)", "EOF while parsing a list at line 1 column 33"},
      {R, R"({"op":"read","request":{"files":[{)", "EOF while parsing an object at line 1 column 34"},
      {R, R"({"op":"read","request":{"files":[{"path":"a",)", "EOF while parsing a value at line 1 column 45"},
      {R, R"({"op":"read","request":{"files":[{"path":"a")", "EOF while parsing an object at line 1 column 44"},
      {R, R"({"op":"read","request":{"files":[{"path":"a"},)", "EOF while parsing a value at line 1 column 46"},
      {R, R"({"op":"read","request":{"files":[{"path":"a"})", "EOF while parsing a list at line 1 column 45"},
      // Lines and columns count line feeds and bytes.
      {R, "{\n\"op\":\"read\",\n\"request\":{\"files\":[{\"path\":\"a\",\"start\":-2}]}\n}", "invalid value: integer `-2`, expected usize at line 3 column 42"},
      {R, "{\"op\":\"read\",\"request\":{\"files\":[{\"path\":\"\xC3\xA9\",\"start\":-2}]}}", "invalid value: integer `-2`, expected usize at line 1 column 56"},
      {R, "{\"op\":\"read\",\r\n\"request\":{\"files\":[{\"path\":\"a\",\"start\":true}]}}", "invalid type: boolean `true`, expected usize at line 2 column 44"},
      // Edits read straight: problems in their fields are reported after them.
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"lines","start":1,"end":2}]}})", "missing field `text` at line 1 column 97"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"lines","start":1,"end":2}, {"kind":"x"}]}})", "missing field `text` at line 1 column 98"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"lines","start":1,"end":2} , )", "missing field `text` at line 1 column 99"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"lines","start":1,"end":2,"text":"t","bad":1}]}})", "unknown field `bad`, expected one of `start`, `end`, `text` at line 1 column 116"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"replace","old":"a","new":"b","count":1,"text":""}]}})", "unknown field `text`, expected one of `old`, `new`, `count` at line 1 column 121"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"start":1,"kind":"lines","start":2}]}})", "duplicate field `start` at line 1 column 99"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"lines","kind":"lines"}]}})", "duplicate field `kind` at line 1 column 84"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"lines","k\u0069nd" :"lines"}]}})", "duplicate field `kind` at line 1 column 89"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"start":1}]}})", "missing field `kind` at line 1 column 73"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"x","start":}]}})", "unknown variant `x`, expected `lines` or `replace` at line 1 column 73"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":["lines"]}]}})", "invalid type: sequence, expected variant identifier at line 1 column 70"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"text":"a\q","kind":"lines"}]}})", "invalid escape at line 1 column 74"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[[]]}})", "missing field `kind` at line 1 column 64"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[["lines",1,2]]}})", "invalid length 2, expected struct variant Edit::Lines with 3 elements at line 1 column 76"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[["replace","a"]]}})", "invalid length 1, expected struct variant Edit::Replace with 3 elements at line 1 column 78"},
      {R, R"({"op":"apply","request":{"path":"p","revision":"r","edits":[["replace","a","b",1,2]]}})", "invalid length 4, expected 3 elements in sequence at line 1 column 84"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[5]}})", "invalid type: integer `5`, expected internally tagged enum Edit at line 1 column 63"},
      {R, R"({"op":"preview","request":{"path":"p","revision":"r","edits":[{"kind":"replace","old":"a","new":"b","count":-1}]}})", "invalid value: integer `-1`, expected usize at line 1 column 112"},
      {R, R"({"op":"apply","request":{"path":"p","revision":"r","edits":[{"kind":1,"old":"a","new":"b","count":1}]}})", "invalid type: integer `1`, expected variant identifier at line 1 column 69"},
      {R, R"({"op":"apply","request":{"path":"p","revision":"r","edits":[["replace","a","b",18446744073709551616]]}})", "invalid type: floating point `1.8446744073709552e19`, expected usize at line 1 column 101"},
      {R, R"({"op":"apply","request":{"path":"p","revision":"r","edits":[["replace","a","b",01]]}})", "invalid number at line 1 column 81"},
      {R, R"({"op":"apply","request":{"path":"p","revision":"r","edits":[["replace","a","b","1"]]}})", "invalid type: string \"1\", expected usize at line 1 column 84"},
      // A body before "op" is held; its problems are reported after the op.
      {R, R"({"request":{"files":[{"path":1}]},"op":"read" })", "invalid type: integer `1`, expected a string at line 1 column 47"},
      {R, R"({"request":{"files":[{"path":1}]},"op":"read" ,"x":1})", "invalid type: integer `1`, expected a string at line 1 column 46"},
      {R, "{\"request\":{\"files\":[{\"path\":1}]},\n\"op\":\"read\"\n}\n", "invalid type: integer `1`, expected a string at line 3 column 1"},
      {R, R"({"request":{"files":[{"path":1}]},"request":1})", "duplicate field `request` at line 1 column 43"},
      {R, R"({"request":{"files":[{"path":1}]}})", "missing field `op` at line 1 column 34"},
      {R, R"({"request":{"files":[{"path":1}],},"op":"read"})", "trailing comma at line 1 column 34"},
      {R, R"({"request":{"files":[]},"op":"x"})", "unknown variant `x`, expected one of `read`, `preview`, `apply` at line 1 column 32"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[]},"op":"read"})", "unknown field `path`, expected `files` at line 1 column 62"},
      {R, R"({"request":{"files":[{"path":"a","kind":1}]},"op":"read"})", "unknown field `kind`, expected one of `path`, `start`, `end` at line 1 column 57"},
      {R, R"({"request":{"files":[{"path":"a","path":"b"}]},"op":"read"})", "duplicate field `path` at line 1 column 59"},
      {R, R"({"request":{"files":[{"start":1}]},"op":"read"})", "missing field `path` at line 1 column 47"},
      {R, R"({"request":{"files":[{"path":"a","start":null}]},"op":"read"})", "invalid type: null, expected usize at line 1 column 61"},
      {R, R"({"request":{"files":[{"path":"a","start":-3}]},"op":"read"})", "invalid value: integer `-3`, expected usize at line 1 column 59"},
      {R, R"({"request":{"files":[{"path":"a","start":2.5e1}]},"op":"read"})", "invalid type: floating point `25.0`, expected usize at line 1 column 62"},
      {R, R"({"request":{"files":[{"path":"a","end":true}]},"op":"read"})", "invalid type: boolean `true`, expected usize at line 1 column 59"},
      {R, R"({"request":{"files":{"a":1}},"op":"read"})", "invalid type: map, expected a sequence at line 1 column 41"},
      {R, R"({"request":"body","op":"read"})", "invalid type: string \"body\", expected struct ReadRequest at line 1 column 30"},
      {R, R"({"request":[[],1],"op":"read"})", "invalid length 2, expected 1 element in sequence at line 1 column 30"},
      {R, R"({"request":[],"op":"read"})", "invalid length 0, expected struct ReadRequest with 1 element at line 1 column 26"},
      {R, R"({"request":[[["a",1,null,2]]],"op":"read"})", "invalid length 4, expected 3 elements in sequence at line 1 column 42"},
      {R, R"({"request":[[["a"]]],"op":"read"})", "invalid length 2, expected struct ReadSpec with 3 elements at line 1 column 33"},
      {R, R"({"request":["p","r",[],1],"op":"apply"})", "invalid length 4, expected 3 elements in sequence at line 1 column 39"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":2}]},"op":"preview"})", "invalid value: integer `2`, expected variant index 0 <= i < 2 at line 1 column 75"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":-1}]},"op":"preview"})", "invalid type: integer `-1`, expected variant identifier at line 1 column 76"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":null}]},"op":"preview"})", "invalid type: null, expected variant identifier at line 1 column 78"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":"x"}]},"op":"preview"})", "unknown variant `x`, expected `lines` or `replace` at line 1 column 77"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":0,"kind":0}]},"op":"preview"})", "duplicate field `kind` at line 1 column 84"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[[]]},"op":"preview"})", "missing field `kind` at line 1 column 67"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{}]},"op":"preview"})", "missing field `kind` at line 1 column 67"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[5]},"op":"preview"})", "invalid type: integer `5`, expected internally tagged enum Edit at line 1 column 66"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[["lines",1]]},"op":"preview"})", "invalid length 1, expected struct variant Edit::Lines with 3 elements at line 1 column 76"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[["replace","a","b",1,2]]},"op":"apply"})", "invalid length 4, expected 3 elements in sequence at line 1 column 86"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":"lines","start":1,"end":2,"text":"","kind":0}]},"op":"apply"})", "duplicate field `kind` at line 1 column 116"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":"replace","old":"a","new":"b","count":1.5}]},"op":"preview"})", "invalid type: floating point `1.5`, expected usize at line 1 column 115"},
      {R, R"({"request":{"path":"p","revision":"r","edits":[{"kind":"replace","old":"a","new":"b","count":1,"x":0}]},"op":"preview"})", "unknown field `x`, expected one of `old`, `new`, `count` at line 1 column 119"},
      // The whole standard input of apply.
      {E, R"({"op":"read","request":{"files":[]}})", "unknown field `op`, expected one of `path`, `revision`, `edits` at line 1 column 5"},
      {E, R"({"path":"p","revision":"r"})", "missing field `edits` at line 1 column 27"},
      {E, R"({"path":"p","revision":"r","edits":[],"path":"q"})", "duplicate field `path` at line 1 column 44"},
      {E, R"(["p","r"])", "invalid length 2, expected struct EditRequest with 3 elements at line 1 column 9"},
      {E, R"(["p","r",[],1])", "trailing characters at line 1 column 13"},
      {E, "5", "invalid type: integer `5`, expected struct EditRequest at line 1 column 1"},
      {E, R"({"path":"p","revision":"r","edits":[{"kind":0,"start":1,"end":2,"text":""}]})", "invalid type: integer `0`, expected variant identifier at line 1 column 45"},
      {E, "{\"path\":\"p\",\"revision\":\"r\",\"edits\":[]}\n}", "trailing characters at line 2 column 1"},
  };
  return cases;
}

TEST(DecodeTest, FailuresGiveOneMessageWithItsPosition) {
  for (const Case& c : failure_cases()) {
    EXPECT_EQ(decode(c.as, c.text), c.message) << "text: " << c.text;
  }
}

// Nesting: the outermost value is level 1; level 127 is read, 128 fails at
// its opening bracket.
TEST(DecodeTest, NestingLimitCountsFromTheOutermostValue) {
  const auto held = [](int arrays) {
    return "{\"request\":" + std::string(static_cast<std::size_t>(arrays), '[') +
           std::string(static_cast<std::size_t>(arrays), ']') + ",\"op\":\"read\"}";
  };
  EXPECT_EQ(decode(R, held(126)), "invalid type: sequence, expected a string at line 1 column " +
                                      std::to_string(held(126).size()));
  EXPECT_EQ(decode(R, held(127)), "recursion limit exceeded at line 1 column 138");

  const std::string prefix = R"({"op":"apply","request":{"path":"p","revision":"r","edits":[{"kind":"lines","text":)";
  const auto edit = [&](int arrays) {
    return prefix + std::string(static_cast<std::size_t>(arrays), '[') + std::string(static_cast<std::size_t>(arrays), ']') +
           "}]}}";
  };
  // Past the closing bracket of "edits": the held text is matched after the edit.
  EXPECT_EQ(decode(R, edit(123)),
            "invalid type: sequence, expected a string at line 1 column " + std::to_string(prefix.size() + 123 * 2 + 2));
  EXPECT_EQ(decode(R, edit(124)), "recursion limit exceeded at line 1 column " + std::to_string(prefix.size() + 124));
  EXPECT_EQ(decode(R, "{\"request\":" + std::string(200000, '[')), "recursion limit exceeded at line 1 column 138");
}

const ReadRequest& read_body(const Request& request) { return std::get<ReadRequest>(request.body); }
const EditRequest& edit_body(const Request& request) { return std::get<EditRequest>(request.body); }
const Edit::Lines& lines(const Edit& edit) { return std::get<Edit::Lines>(edit.kind); }
const Edit::Replace& replace(const Edit& edit) { return std::get<Edit::Replace>(edit.kind); }

Request decoded(const std::string& text) {
  auto result = decode_request(text);
  EXPECT_TRUE(result.ok()) << text << ": " << outcome(result);
  return result.ok() ? std::move(result).value() : Request{};
}

TEST(DecodeTest, ReadRequestsInBothForms) {
  Request r = decoded("{\"request\":{\"files\":[]},\"op\":\"read\"}\n");
  EXPECT_EQ(r.op, Op::Read);
  EXPECT_TRUE(read_body(r).files.empty());

  r = decoded(R"(["read",{"files":[["a.md",3,null]]}])");
  ASSERT_EQ(read_body(r).files.size(), 1u);
  EXPECT_EQ(read_body(r).files[0].path, "a.md");
  EXPECT_EQ(read_body(r).files[0].start, 3u);
  EXPECT_FALSE(read_body(r).files[0].end.has_value());

  r = decoded(R"( { "op" : "read" , "request" : { "files" : [ {"path":"a.md"}, {"path":"b","end":null},
                  {"end":9,"start":18446744073709551615,"p\u0061th":"c\u0000d"}, ["e",2,7] ] } } )");
  const auto& files = read_body(r).files;
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[0].start, 1u);
  EXPECT_FALSE(files[0].end.has_value());
  EXPECT_EQ(files[1].start, 1u);
  EXPECT_FALSE(files[1].end.has_value());
  EXPECT_EQ(files[2].path, std::string("c\0d", 3));
  EXPECT_EQ(files[2].start, 18446744073709551615u);
  EXPECT_EQ(files[2].end, 9u);
  EXPECT_EQ(files[3].path, "e");
  EXPECT_EQ(files[3].start, 2u);
  EXPECT_EQ(files[3].end, 7u);

  // A held body is matched the same way.
  r = decoded(R"({"request":{"files":[{"path":"a","start":4,"end":null},["b",5,6]]},"op":{"read":null}})");
  ASSERT_EQ(read_body(r).files.size(), 2u);
  EXPECT_EQ(read_body(r).files[0].start, 4u);
  EXPECT_EQ(read_body(r).files[1].path, "b");
  EXPECT_EQ(read_body(r).files[1].start, 5u);
  EXPECT_EQ(read_body(r).files[1].end, 6u);
}

TEST(DecodeTest, EditRequestsInBothForms) {
  Request r = decoded(R"({"op":{"apply":null},"request":{"path":"src/a.rs","revision":"ab","edits":[
      {"text":"x\n\"y\"\t\\ \u00e9\ud83d\ude00","end":4,"kind":"lines","start":2},
      ["replace","a","b",1],
      {"count":18446744073709551615,"new":"","old":"\/","kind":"replace"}]}})");
  EXPECT_EQ(r.op, Op::Apply);
  const EditRequest& body = edit_body(r);
  EXPECT_EQ(body.path, "src/a.rs");
  EXPECT_EQ(body.revision, "ab");
  ASSERT_EQ(body.edits.size(), 3u);
  EXPECT_EQ(lines(body.edits[0]).start, 2u);
  EXPECT_EQ(lines(body.edits[0]).end, 4u);
  EXPECT_EQ(lines(body.edits[0]).text, "x\n\"y\"\t\\ \xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(replace(body.edits[1]).old_text, "a");
  EXPECT_EQ(replace(body.edits[1]).new_text, "b");
  EXPECT_EQ(replace(body.edits[1]).count, 1u);
  EXPECT_EQ(replace(body.edits[2]).old_text, "/");
  EXPECT_EQ(replace(body.edits[2]).count, 18446744073709551615u);

  // Held before "op", an edit may name its kind by index.
  r = decoded(R"({"request":["p","r",[{"kind":1,"old":"a","new":"b","count":1},[0,1,2,"t"]]],"op":"preview"})");
  EXPECT_EQ(r.op, Op::Preview);
  ASSERT_EQ(edit_body(r).edits.size(), 2u);
  EXPECT_EQ(replace(edit_body(r).edits[0]).new_text, "b");
  EXPECT_EQ(lines(edit_body(r).edits[1]).text, "t");

  auto apply = decode_edit_request("\r\n {\"path\":\"p\",\"revision\":\"r\",\"edits\":[[\"lines\",1,1,\"\"]]} \n");
  ASSERT_TRUE(apply.ok()) << outcome(apply);
  EXPECT_EQ(lines(apply->edits[0]).text, "");
}

// Strings are scanned in blocks; put each kind of special byte at every
// offset of a block and compare with the text it stands for.
TEST(DecodeTest, StringsDecodeAtEveryOffset) {
  struct Piece {
    std::string json;
    std::string text;
  };
  const std::vector<Piece> pieces = {
      {"\\n", "\n"}, {"\\\"", "\""}, {"\\\\", "\\"}, {"\\u00e9", "\xC3\xA9"},
      {"\\ud83d\\ude00", "\xF0\x9F\x98\x80"}, {"\xC3\xA9", "\xC3\xA9"}, {"\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"\\u0000", std::string(1, '\0')},
  };
  for (const Piece& piece : pieces) {
    for (std::size_t offset = 0; offset < 40; ++offset) {
      const std::string pad(offset, 'a');
      const std::string json = pad + piece.json + pad + piece.json + "xyz";
      const std::string text = pad + piece.text + pad + piece.text + "xyz";
      auto result = decode_edit_request(R"({"path":")" + json + R"(","revision":"","edits":[]})");
      ASSERT_TRUE(result.ok()) << json << ": " << outcome(result);
      EXPECT_EQ(result->path, text) << json;
      const Request held = decoded(R"({"request":{"path":"p","revision":"","edits":[["lines",1,1,")" + json +
                                   R"("]]},"op":"apply"})");
      EXPECT_EQ(lines(edit_body(held).edits[0]).text, text) << json;
    }
  }
  // A control byte or bad UTF-8 is found wherever it stands.
  for (std::size_t offset = 0; offset < 40; ++offset) {
    const std::string head = R"({"path":")" + std::string(offset, 'a');
    EXPECT_EQ(outcome(decode_edit_request(head + "\x1F\"}")),
              "control character (\\u0000-\\u001F) found while parsing a string at line 1 column " +
                  std::to_string(head.size() + 1));
    EXPECT_EQ(outcome(decode_edit_request(head + "\xE2\x82\"}")),
              "invalid unicode code point at line 1 column " + std::to_string(head.size() + 3));
  }
}

TEST(DecodeTest, TextOfTheLargestSizeIsDecoded) {
  const std::string head = R"({"path":"p","revision":"r","edits":[{"kind":"lines","start":1,"end":2,"text":")";
  const std::string tail = "\"}]}\n";
  const std::string chunk = "ab\\n\xC3\xA9";
  std::string text = head;
  std::string expected;
  while (text.size() + chunk.size() + tail.size() <= MAX_REQUEST_BYTES) {
    text += chunk;
    expected += "ab\n\xC3\xA9";
  }
  expected.append(MAX_REQUEST_BYTES - tail.size() - text.size(), 'x');
  text.resize(MAX_REQUEST_BYTES - tail.size(), 'x');
  text += tail;
  ASSERT_EQ(text.size(), MAX_REQUEST_BYTES);
  auto result = decode_edit_request(text);
  ASSERT_TRUE(result.ok()) << outcome(result);
  EXPECT_TRUE(lines(result->edits[0]).text == expected);
}

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
      {L, R"([])", "invalid length 0, expected struct ListRequest with 2 elements at line 1 column 2"},
      {L, R"(["a","b","c"])", "trailing characters at line 1 column 10"},
      {L, R"(["a",5])", "invalid type: integer `5`, expected a string at line 1 column 6"},
      {L, R"({"cursor":true})", "invalid type: boolean `true`, expected a string at line 1 column 14"},
      {L, R"({"cursor":"a","cursor":"b"})", "duplicate field `cursor` at line 1 column 22"},
      {L, R"({"path":5})", "invalid type: integer `5`, expected a string at line 1 column 9"},
      {L, R"({"path":{}})", "invalid type: map, expected a string at line 1 column 8"},
      {L, R"({"paths":"x"})", "unknown field `paths`, expected `path` or `cursor` at line 1 column 8"},
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
    std::optional<std::string> cursor;
  };
  const std::vector<Listed> cases = {
      {"{}", std::nullopt, std::nullopt},
      {R"({"path":null})", std::nullopt, std::nullopt},
      {R"({"path":"src"})", "src", std::nullopt},
      {R"({"path":""})", "", std::nullopt},
      {R"(["src/"])", "src/", std::nullopt},
      {"[null]", std::nullopt, std::nullopt},
      {R"({"cursor":"b.txt","path":"."})", ".", "b.txt"},
      {R"({"cursor":null})", std::nullopt, std::nullopt},
      {R"({"cursor":""})", std::nullopt, ""},
      {R"(["src",null])", "src", std::nullopt},
      {R"([null,"m"])", std::nullopt, "m"},
  };
  for (const Listed& c : cases) {
    const auto request = decode_list_request(c.text);
    ASSERT_TRUE(request.ok()) << c.text << ": " << request.error().render();
    EXPECT_EQ(request->path, c.path) << c.text;
    EXPECT_EQ(request->cursor, c.cursor) << c.text;
  }
}

}  // namespace
}  // namespace tuvel
