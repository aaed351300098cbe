// SPDX-License-Identifier: Apache-2.0
#include "tools/writer/log_signer.h"

#include <optional>
#include <stdexcept>
#include <string_view>

#include "tools/writer/signature_block_writer.h"
#include "tools/writer/unusable_input.h"
#include "verify/log_line.h"
#include "verify/text_reader.h"

namespace qve::writer {

namespace {

void Put(std::ostream& out, std::string_view bytes) {
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The blocks of the signed copy, each signed as its lines go by.
class Blocks {
 public:
  Blocks(std::ostream& out, const LogSignerOptions& options)
      : out_(out), options_(options), link_(options.link) {}

  BlockSigner& current() {
    if (!signer_) signer_.emplace(options_.key, BlockFields{options_.id, options_.text, link_});
    return *signer_;
  }

  void EndLine(std::string_view lineEnd) {
    current().Add(std::span<const std::uint8_t>(&kLineSeparator, 1));
    lineEnd_ = lineEnd;
    if (++lines_ == options_.linesPerBlock) Sign();
  }

  // A block for the lines since the last one; the first block may cover none.
  void Finish() {
    if (lines_ > 0 || blocks_ == 0) Sign();
  }

  const Bytes& link() const { return link_; }

 private:
  static constexpr std::uint8_t kLineSeparator = 0x00;

  void Sign() {
    const Bytes block = EncodeSignatureBlock(
        {.id = options_.id, .text = options_.text, .link = link_, .signature = current().Finish()});
    Put(out_, SignatureLineOf(block));
    Put(out_, lineEnd_);
    link_ = Sha256(block);
    signer_.reset();
    lines_ = 0;
    ++blocks_;
  }

  std::ostream& out_;
  const LogSignerOptions& options_;
  Bytes link_;
  std::optional<BlockSigner> signer_;
  std::string_view lineEnd_ = "\n";
  std::size_t lines_ = 0;
  std::size_t blocks_ = 0;
};

}  // namespace

Bytes Sha256(std::span<const std::uint8_t> bytes) {
  Bytes digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("EVP_Digest failed");
  digest.resize(length);
  return digest;
}

std::string SignatureLineOf(std::span<const std::uint8_t> block) {
  return kSignatureMarker + EncodeBase64(block) + kSignatureMarker;
}

Bytes SignLog(const std::string& inputPath, std::ostream& out, const LogSignerOptions& options) {
  if (options.text.size() > kMaxBlockTextLength)
    throw std::runtime_error("block text is longer than " + std::to_string(kMaxBlockTextLength) +
                             " bytes");
  TextLineReader reader(inputPath);
  if (!reader.isOpen()) throw UnusableInput("cannot open " + inputPath + " as a file");
  Blocks blocks(out, options);
  LineText line;
  char lastByte = 0;
  std::uint64_t lineNumber = 1;
  bool unterminated = false;  // the last line ended with the input
  std::string_view piece;
  bool lineEnds = false;
  for (std::uint64_t start = reader.offset(); reader.NextPiece(&piece, &lineEnds);
       start = reader.offset()) {
    if (reader.pieceHasNul())
      throw UnusableInput("input line " + std::to_string(lineNumber) +
                          " holds a NUL, and a signature covers a line only up to its first NUL");
    blocks.current().Add(BytesOf(line.Counted(piece)));
    Put(out, piece);
    if (!piece.empty()) lastByte = piece.back();
    if (!lineEnds) continue;
    if (line.isSignature())
      throw UnusableInput("input line " + std::to_string(lineNumber) +
                          " would read as a signature line");
    // What ended the line: LF, CR LF, or the end of the input. A last line
    // without LF gets one; after a CR of its own, CR LF, so the CR stays in it.
    const std::uint64_t ended = reader.offset() - start - piece.size();
    const std::string_view lineEnd = ended == 2 || (ended == 0 && lastByte == kCarriageReturn)
                                         ? std::string_view("\r\n")
                                         : std::string_view("\n");
    Put(out, lineEnd);
    blocks.EndLine(lineEnd);
    unterminated = ended == 0;
    line = LineText{};
    lastByte = 0;
    ++lineNumber;
  }
  // The reader stops at a 0x1A as at the end of the file.
  if (reader.endOfTextOffset())
    throw UnusableInput("input line " + std::to_string(lineNumber - (unterminated ? 1 : 0)) +
                        " holds 0x1A, which would end the log for a reader");
  blocks.Finish();
  if (!out) throw std::runtime_error("cannot write the signed log");
  return blocks.link();
}

}  // namespace qve::writer
