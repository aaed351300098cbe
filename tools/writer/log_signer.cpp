#include "tools/writer/log_signer.h"

#include <array>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tools/writer/signature_block_writer.h"

namespace qve::writer {

namespace {

constexpr char kMarker = 0x1F;
constexpr char kEndOfText = 0x1A;

// The line as a verifier reads it: CR before LF belongs to the line end, and
// the line counts up to its first NUL.
std::string_view ReadAs(std::string_view raw) {
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  return raw.substr(0, raw.find('\0'));
}

bool IsSignatureLine(std::string_view line) {
  return line.size() >= 2 && line.front() == kMarker && line.back() == kMarker;
}

// The verifier's stopping decoder: up to the first '=' or non-alphabet byte;
// fewer than four characters decode to nothing.
Bytes DecodePayload(std::string_view payload) {
  if (payload.size() < 4) return {};
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : payload) {
    const auto value = kAlphabet.find(c);
    if (c == '=' || value == std::string_view::npos) break;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  return out;
}

class BlockSigner {
 public:
  BlockSigner(std::ostream& out, const LogSignerOptions& options)
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
  return kMarker + EncodeBase64(block) + kMarker;
}

Bytes SignLog(std::istream& in, std::ostream& out, const LogSignerOptions& options) {
  if (options.text.size() > 2048) throw std::runtime_error("block text is longer than 2048 bytes");
  BlockSigner signer(out, options);
  std::string raw;
  std::size_t lineNumber = 0;
  while (std::getline(in, raw)) {
    ++lineNumber;
    if (raw.find(kEndOfText) != std::string::npos)
      throw std::runtime_error("input line " + std::to_string(lineNumber) +
                               " holds 0x1A, which would end the log for a reader");
    const std::string_view line = ReadAs(raw);
    if (IsSignatureLine(line))
      throw std::runtime_error("input line " + std::to_string(lineNumber) +
                               " would read as a signature line");
    // A last line without LF gets one: the signature line must start a line.
    out.write(raw.data(), static_cast<std::streamsize>(raw.size()));
    out.put('\n');
    signer.pending().emplace_back(line);
    if (options.linesPerBlock != 0 && signer.pending().size() == options.linesPerBlock)
      signer.Sign();
  }
  if (in.bad()) throw std::runtime_error("cannot read the input log");
  if (!signer.pending().empty() || signer.blocks() == 0) signer.Sign();
  if (!out) throw std::runtime_error("cannot write the signed log");
  return signer.link();
}

Bytes ChainValueAfter(std::istream& signedLog) {
  std::string raw, lastPayload;
  bool found = false;
  while (std::getline(signedLog, raw)) {
    const auto end = raw.find(kEndOfText);
    if (end != std::string::npos) raw.resize(end);
    // Only a line that an LF ends loses a CR at its end.
    const bool lastLine = signedLog.eof() || end != std::string::npos;
    const std::string_view line =
        lastLine ? std::string_view(raw).substr(0, raw.find('\0')) : ReadAs(raw);
    if (IsSignatureLine(line)) {
      lastPayload.assign(line.substr(1, line.size() - 2));
      found = true;
    }
    if (end != std::string::npos) break;
  }
  return found ? Sha256(DecodePayload(lastPayload)) : EmptyChainValue();
}

}  // namespace qve::writer
