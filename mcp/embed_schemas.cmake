# SPDX-License-Identifier: Apache-2.0
# Writes OUT, a C++ source defining schema_text() over the files in SCHEMAS;
# each file is known by its name without ".json". A document's "$id" is left
# out: a tool carries its schemas inline, and clients that cache compiled
# schemas by "$id" would meet the same one (error.json) in every tool.
set(body "// Generated from the files of schema/ at build time.\n#include \"schema_texts.h\"\n\nnamespace tuvel::mcp {\n\nstd::string_view schema_text(std::string_view name) {\n")
foreach(file ${SCHEMAS})
  get_filename_component(name ${file} NAME_WE)
  file(READ ${file} text)
  string(REPLACE "\n  \"$id\": \"${name}.json\"," "" text "${text}")
  string(FIND "${text}" "\"$id\"" stray)
  if(NOT stray EQUAL -1)
    message(FATAL_ERROR "${file}: \"$id\" must be the line `  \"$id\": \"${name}.json\",` and nowhere else")
  endif()
  string(APPEND body "  if (name == \"${name}\") return R\"tuvel_schema(${text})tuvel_schema\";\n")
endforeach()
string(APPEND body "  return {};\n}\n\n}  // namespace tuvel::mcp\n")
file(WRITE ${OUT}.new "${body}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
