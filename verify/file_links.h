// SPDX-License-Identifier: Apache-2.0
// A file's place in a chain, read as a verification run reads it but with no
// signature checked: the link of its first block and the chain value its last
// block leaves, which tell the file it continues and the one continuing it.
#pragma once

#include <optional>
#include <string>

#include "format/bytes.h"
#include "verify/text_reader.h"

namespace qve {

struct FileLinks {
  bool opened = false;
  std::optional<Bytes> firstLink;       // its first signature line's block, when it parses
  std::optional<Bytes> lastChainValue;  // after its last signature line
};

// One pass over the file; a file that does not open holds no lines, and
// gzip content that cannot be read whole holds none either.
FileLinks ReadFileLinks(const std::string& path, Compression compression = Compression::None);

}  // namespace qve
