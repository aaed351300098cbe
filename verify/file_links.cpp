// SPDX-License-Identifier: Apache-2.0
#include "verify/file_links.h"

#include <string_view>
#include <utility>

#include "format/signature_block.h"
#include "verify/log_line.h"
#include "verify/text_reader.h"

namespace qve {

FileLinks ReadFileLinks(const std::string& path, Compression compression) {
  TextLineReader reader(path, TextLineReader::kDefaultBufferSize, compression);
  FileLinks links;
  links.opened = reader.isOpen();
  LineFeed line;
  std::string_view piece;
  bool lineEnds = false;
  while (reader.NextPiece(&piece, &lineEnds)) {
    line.Add(piece, reader.pieceHasNul());
    if (!lineEnds) continue;
    if (line.EndsSignature()) {
      SignatureBlock block;
      if (!links.lastChainValue &&
          ParseSignatureBlock(line.payload().kept(), block) == BlockParseResult::Parsed)
        links.firstLink = std::move(block.link);
      links.lastChainValue = line.payload().digest();
    }
    line.Next();
  }
  if (reader.fault() != platform::ReadFault::None) return {};
  return links;
}

}  // namespace qve
