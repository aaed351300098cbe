# SPDX-License-Identifier: Apache-2.0
# Turns a text file into a C++ source that defines it as one string, so the
# program carries the file and needs nothing beside it at run time.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=qve::cli::kName -P embed_text.cmake
# The bytes are written as hex, so no quote or delimiter in the text matters.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "(..)" "'\\\\x\\1'," bytes "${hex}")
string(REGEX MATCH "^(.*)::([^:]+)$" unused "${SYMBOL}")
set(namespace ${CMAKE_MATCH_1})
set(name ${CMAKE_MATCH_2})
file(WRITE ${OUTPUT}.tmp
  "// Generated from ${INPUT}; edit that file instead.\n"
  "#include <string_view>\n"
  "namespace ${namespace} {\n"
  "namespace {\n"
  "constexpr char kBytes[] = {${bytes}};\n"
  "}  // namespace\n"
  "extern const std::string_view ${name};\n"
  "const std::string_view ${name}(kBytes, sizeof kBytes);\n"
  "}  // namespace ${namespace}\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
