#include "tools/writer/log_signer.h"

#include <stdexcept>
#include <string_view>
#include <vector>

#include "crypto/signature_block.h"
#include "platform/text_reader.h"
#include "tools/writer/signature_block_writer.h"
#include "verify/log_line.h"

namespace qve::writer {

namespace {

// The line as the library reads it: a CR before the LF belongs to the line
// end; then the library's own line rules.
LogLine ReadAs(std::string_view raw) {
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  return ClassifyLine(raw);
}

class LineSigner {
 public:
  LineSigner(std::ostream& out, const LogSignerOptions& options)
      : out_(out), options_(options), link_(options.link) {}

  void Sign() {
    const Bytes block = SignBlock(options_.key, {options_.id, options_.text, link_}, pending_);
    const std::string line = SignatureLineOf(block);
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    out_.put('\n');
    link_ = Sha256(block);
    pending_.clear();
    ++blocks_;
  }

  std::vector<std::string>& pending() { return pending_; }
  std::size_t blocks() const { return blocks_; }
  const Bytes& link() const { return link_; }

 private:
  std::ostream& out_;
  const LogSignerOptions& options_;
  Bytes link_;
  std::vector<std::string> pending_;
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

Bytes EmptyChainValue() { return Sha256({}); }

std::string SignatureLineOf(std::span<const std::uint8_t> block) {
  return kSignatureMarker + EncodeBase64(block) + kSignatureMarker;
}

Bytes SignLog(std::istream& in, std::ostream& out, const LogSignerOptions& options) {
  if (options.text.size() > kMaxBlockTextLength)
    throw std::runtime_error("block text is longer than 2048 bytes");
  LineSigner signer(out, options);
  std::string raw;
  std::size_t lineNumber = 0;
  while (std::getline(in, raw)) {
    ++lineNumber;
    if (raw.find(kEndOfInput) != std::string::npos)
      throw std::runtime_error("input line " + std::to_string(lineNumber) +
                               " holds 0x1A, which would end the log for a reader");
    const LogLine line = ReadAs(raw);
    if (line.isSignature)
      throw std::runtime_error("input line " + std::to_string(lineNumber) +
                               " would read as a signature line");
    // A last line without LF gets one: the signature line must start a line.
    out.write(raw.data(), static_cast<std::streamsize>(raw.size()));
    out.put('\n');
    signer.pending().emplace_back(line.text);
    if (options.linesPerBlock != 0 && signer.pending().size() == options.linesPerBlock)
      signer.Sign();
  }
  if (in.bad()) throw std::runtime_error("cannot read the input log");
  if (!signer.pending().empty() || signer.blocks() == 0) signer.Sign();
  if (!out) throw std::runtime_error("cannot write the signed log");
  return signer.link();
}

Bytes ChainValueAfter(const std::string& signedLogPath) {
  platform::TextLineReader reader(signedLogPath);
  std::string lastPayload;
  bool found = false;
  std::string_view raw;
  while (reader.NextLine(&raw)) {
    const LogLine line = ClassifyLine(raw);
    if (line.isSignature) {
      lastPayload.assign(line.payload);
      found = true;
    }
  }
  return found ? Sha256(BlockBytesOf(lastPayload)) : EmptyChainValue();
}

}  // namespace qve::writer
