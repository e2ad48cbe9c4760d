// SPDX-License-Identifier: Apache-2.0
// Decoder speed against the speed of reading the same bytes with memchr.
// Compare the bytes_per_second of each Decode* case with its Memchr* twin.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "protocol/decode.h"
#include "protocol/json.h"

namespace {

// Ordinary source code: indentation, string literals with quotes and
// backslashes, tabs, a little non-ASCII; one JSON escape every ~25 bytes.
std::string source_text(std::size_t size) {
  static const char* const kLines[] = {
      "#include \"protocol/decode.h\"\n",
      "\n",
      "namespace tuvel {\n",
      "// Reads one value and reports the first problem with its position.\n",
      "bool Reader::string(std::string& buf, Str& out) {\n",
      "  const std::size_t n = text_.size();\n",
      "  if (c == '\\\\' || c == '\"') return fail_here(\"invalid escape \\\"x\\\"\");\n",
      "\tfor (std::size_t i = 0; i < n; ++i) total += values[i] * 31;\n",
      "  std::printf(\"%s:%d: caf\xC3\xA9 \\n\", file, line);\n",
      "  return std::string_view(text_).substr(begin, size);\n",
      "}\n",
  };
  std::string text;
  text.reserve(size + 128);
  for (std::size_t k = 0; text.size() < size; ++k) text += kLines[k % (sizeof kLines / sizeof kLines[0])];
  text.resize(size);
  return text;
}

std::string big_request() {
  std::string text = R"({"path":"src/lib/big.cc","revision":")" + std::string(64, 'a') +
                     R"(","edits":[{"kind":"lines","start":1,"end":40000,"text":)";
  // Leave room for the envelope so the whole text stays within 2 MiB.
  std::string body = source_text(tuvel::MAX_REQUEST_BYTES - 4096);
  std::string escaped;
  tuvel::write_json_string(body, escaped);
  escaped.resize(tuvel::MAX_REQUEST_BYTES - text.size() - 6);
  // Cut back to a space, so no escape is split, and close the string.
  while (!escaped.empty() && escaped.back() != ' ') escaped.pop_back();
  text += escaped;
  text += "\"}]}\n";
  return text;
}

const std::string kReadLine =
    R"({"op":"read","request":{"files":[{"path":"edit/src/lib/protocol/decode.cc","start":120,"end":180},)"
    R"({"path":"edit/src/lib/protocol/request.h"}]}})"
    "\n";
const std::string kApplyLine = R"({"op":"apply","request":{"path":"src/main.rs","revision":")" + std::string(64, 'f') +
                               R"x(","edits":[{"kind":"replace","old":"foo(1)","new":"foo(2)","count":1}]}})x"
                               "\n";

void memchr_pass(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    // A byte that never occurs, so the whole text is read.
    benchmark::DoNotOptimize(std::memchr(text.data(), '\x01', text.size()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void decode_line(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    auto result = tuvel::decode_request(text);
    if (!result.ok()) state.SkipWithError("line does not decode");
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_Memchr2MiB(benchmark::State& state) {
  static const std::string text = big_request();
  memchr_pass(state, text);
}

void BM_DecodeEditRequest2MiB(benchmark::State& state) {
  static const std::string text = big_request();
  for (auto _ : state) {
    auto result = tuvel::decode_edit_request(text);
    if (!result.ok()) state.SkipWithError(result.error().render().c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_MemchrReadLine(benchmark::State& state) { memchr_pass(state, kReadLine); }
void BM_DecodeReadLine(benchmark::State& state) { decode_line(state, kReadLine); }
void BM_MemchrApplyLine(benchmark::State& state) { memchr_pass(state, kApplyLine); }
void BM_DecodeApplyLine(benchmark::State& state) { decode_line(state, kApplyLine); }

BENCHMARK(BM_Memchr2MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeEditRequest2MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemchrReadLine);
BENCHMARK(BM_DecodeReadLine);
BENCHMARK(BM_MemchrApplyLine);
BENCHMARK(BM_DecodeApplyLine);

}  // namespace

BENCHMARK_MAIN();
