// Builds a signed log byte by byte, with methods that mirror its format:
// data lines, signature lines signed over the lines since the last one and
// linked to the chain value, and the raw bytes the line rules treat
// specially (lone CR, 0x1A, NUL, a last line without LF).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bytes.h"
#include "tests/support/signature_block_builder.h"

namespace qve::testing {

// The link that the next signature line must carry. One chain serves the
// builders of every file of a run, in the order the run reads them.
class LogChain {
 public:
  static Bytes EmptyDigest();

  const Bytes& value() const { return value_; }
  void Set(Bytes value) { value_ = std::move(value); }
  void Reset() { value_ = EmptyDigest(); }

 private:
  Bytes value_ = EmptyDigest();
};

class LogBuilder {
 public:
  explicit LogBuilder(LogChain& chain) : chain_(chain) {}

  // Line end of the lines that follow: LF (the default) or CR LF.
  LogBuilder& Lf();
  LogBuilder& CrLf();

  // A data line; a verifier covers it up to its first NUL.
  LogBuilder& Data(std::string_view line);
  // Data lines "<prefix>1", "<prefix>2", ...
  LogBuilder& DataLines(int count, std::string_view prefix = "line ");
  // A valid signature line over the pending lines, linked to the chain
  // value; `adjust` may change any field first (link, id, lines signed...).
  // The chain moves on to the digest of the block's bytes.
  LogBuilder& Sign(const std::function<void(SignatureBlockBuilder&)>& adjust = {});
  // A signature line with an empty payload; the chain restarts at the
  // empty digest, the digest of its (empty) block.
  LogBuilder& EmptySignature();
  // 0x1F payload 0x1F and the line end; the chain is left to the test.
  LogBuilder& SignatureLine(std::string_view payload);
  // Bytes as given, with no line end; nothing is covered or signed.
  LogBuilder& Raw(std::string_view bytes);

  // Lines waiting for a signature, as a verifier would cover them.
  const std::vector<std::string>& pending() const { return pending_; }
  // The bytes of the last block that Sign wrote.
  const Bytes& lastBlock() const { return lastBlock_; }

  const Bytes& bytes() const { return bytes_; }
  void WriteTo(const std::filesystem::path& path) const;

 private:
  LogChain& chain_;
  std::string_view lineEnd_ = "\n";
  std::vector<std::string> pending_;
  Bytes lastBlock_;
  Bytes bytes_;
};

}  // namespace qve::testing
