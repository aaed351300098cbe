// SPDX-License-Identifier: Apache-2.0
// Inputs built field by field: defaults give what the library accepts.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/byte_builder.h"
#include "format/bytes.h"
#include "format/container_format.h"
#include "tools/writer/container_writer.h"
#include "tools/writer/signature_block_writer.h"

namespace qve::testing {

using qve::BytesOf;
Bytes Concat(Bytes a, std::span<const std::uint8_t> b);
Bytes Head(const Bytes& bytes, std::size_t n);
// Byte i is (i * 131 + seed) mod 251: "Seal" never shows up in it by chance.
Bytes Pattern(std::size_t size, std::uint8_t seed = 0);

// `content` as one gzip member, as gzip writes it.
Bytes Gzip(std::span<const std::uint8_t> content);

// The committed development key set, as the writer side holds it.
std::string DevKeyPath(const std::string& fileName);  // e.g. "decryption-public.pem"
EVP_PKEY* DevDecryptionPrivateKey();
EVP_PKEY* DevVerificationPrivateKey();
EVP_PKEY* DevVerificationPublicKey();

inline const Bytes kKeyId10 = KeyIdOf(kDecryptionKeyNumber);
inline const Bytes kKeyId11 = KeyIdOf(kVerificationKeyNumber);

// material | CRC-32 of the material, least significant byte first.
Bytes KeyBlock(const Bytes& material);

// tag | K | keyId | W | wrappedKey.
using Record = writer::RecordFields;
// A record naming keyId whose wrapped key is keyBlock encrypted to `key`
// (default: the development decryption public key, i.e. key 10's).
Record WrappedFor(Bytes keyId, const Bytes& keyBlock, EVP_PKEY* key = nullptr);

// "Seal" | version | L | keyId | S | signature | gap | "Seal" | length.
struct Seal {
  std::string open{kSealTag};
  std::uint32_t version = kSealVersion;
  Bytes keyId = kKeyId11;
  std::optional<Bytes> signature{};   // else signs `signedData`, else the body
  std::optional<Bytes> signedData{};  // with `key`, default the dev signing key
  EVP_PKEY* key = nullptr;
  std::optional<std::uint32_t> keyIdLength{}, signatureLength{};
  Bytes gap{};
  std::string close{kSealTag};
  std::optional<std::uint32_t> length{};

  Bytes Build(const Bytes& body = {}) const;
};

// "QVES" | version | N | records | IV | AES-256-CBC(body | seal).
struct Container {
  std::string magic{kContainerMagic};
  std::uint32_t version = kContainerVersion;
  std::optional<std::uint32_t> count{};
  // Default: one record for key 10 wrapping the session key.
  std::optional<std::vector<Record>> records{};
  Bytes sessionKey = Pattern(kPayloadKeyLength, 7);
  Bytes iv = Pattern(kPayloadIvLength, 99);
  Bytes body{};
  std::optional<Seal> seal = Seal{};
  std::optional<Bytes> payload{};  // ciphertext used as is
  std::optional<std::size_t> cutTo{};

  Bytes Plaintext() const;  // body then seal trailer
  Bytes Header() const;     // everything before the payload
  Bytes Build() const;
};

// "QV" | version | id | T | text | K | link | S | signature | trailing.
struct Block {
  std::string magic{kBlockMagic};
  std::uint32_t version = kSignatureBlockVersion;
  std::uint32_t id = 0;
  std::string text{};
  Bytes link{};
  Bytes signature{};
  // When set, the signature is made over id | link | text | each line + 0x00.
  std::optional<std::vector<std::string>> signOver{};
  EVP_PKEY* key = nullptr;  // default: the dev signing key
  std::optional<std::uint32_t> textLength{}, linkLength{}, signatureLength{};
  Bytes trailing{};

  Bytes Build() const;
};

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

// A signed log, line by line.
class LogBuilder {
 public:
  explicit LogBuilder(LogChain& chain) : chain_(chain) {}

  LogBuilder& Lf() { return LineEnd("\n"); }
  LogBuilder& CrLf() { return LineEnd("\r\n"); }
  // A data line; a verifier covers it up to its first NUL.
  LogBuilder& Data(std::string_view line);
  LogBuilder& DataLines(int count, std::string_view prefix = "line ");
  // A valid signature line over the pending lines, linked to the chain;
  // `adjust` may change any field first. The chain moves on to the block.
  LogBuilder& Sign(const std::function<void(Block&)>& adjust = {});
  // An empty payload; the chain restarts at the empty digest.
  LogBuilder& EmptySignature();
  // 0x1F payload 0x1F and the line end; the chain is left to the test.
  LogBuilder& SignatureLine(std::string_view payload);
  // Bytes as given, with no line end.
  LogBuilder& Raw(std::string_view bytes);
  // Lines from a script of words split at spaces: "S" signs the lines since
  // the last signature line; "S!" signs other lines, "S@" links elsewhere,
  // "S0" links to the empty digest, "S#" signs with another key; "E" is an
  // empty payload that restarts the chain, "|x|" the payload x as given;
  // "crlf" and "lf" switch line ends; "+x" is x with no line end; any other
  // word is a data line. In every word '|' stands for 0x1F and '~' for NUL.
  LogBuilder& Script(std::string_view script);

  const Bytes& bytes() const { return bytes_; }
  void WriteTo(const std::filesystem::path& path) const;

 private:
  LogBuilder& LineEnd(std::string_view end) {
    lineEnd_ = end;
    return *this;
  }
  LogChain& chain_;
  std::string_view lineEnd_ = "\n";
  std::vector<std::string> pending_;
  Bytes bytes_;
};

}  // namespace qve::testing
