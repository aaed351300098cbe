// SPDX-License-Identifier: Apache-2.0
#include "tests/support/builders.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "crypto/digest.h"
#include "tests/support/harness.h"
#include "tools/writer/container_writer.h"
#include "tools/writer/keys.h"
#include "tools/writer/log_signer.h"
#include "tools/writer/signature_block_writer.h"

namespace qve::testing {

Bytes Concat(Bytes a, std::span<const std::uint8_t> b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Head(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>((i * 131 + seed) % 251);
  return out;
}

Bytes Gzip(std::span<const std::uint8_t> content) {
  z_stream stream{};
  // Window bits 15 + 16: a gzip header and trailer around the deflate data.
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&stream, static_cast<uLong>(content.size())));
  stream.next_in = const_cast<Bytef*>(content.data());
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

std::string DevKeyPath(const std::string& fileName) { return QVE_DEV_KEY_DIR "/" + fileName; }

// Each loaded once, when first used.
#define QVE_DEV_KEY(function, load, file)                      \
  EVP_PKEY* function() {                                       \
    static const PkeyPtr key = writer::load(DevKeyPath(file)); \
    return key.get();                                          \
  }
QVE_DEV_KEY(DevDecryptionPublicKey, LoadPublicKeyPem, "decryption-public.pem")
QVE_DEV_KEY(DevDecryptionPrivateKey, LoadPrivateKeyPem, "decryption-private.pem")
QVE_DEV_KEY(DevVerificationPrivateKey, LoadPrivateKeyPem, "verification-private.pem")
QVE_DEV_KEY(DevVerificationPublicKey, LoadPublicKeyPem, "verification-public.pem")

Bytes KeyBlock(const Bytes& material) { return writer::KeyBlock(material); }

Record WrappedFor(Bytes keyId, const Bytes& keyBlock, EVP_PKEY* key) {
  return {.keyId = std::move(keyId),
          .wrappedKey = writer::EncryptPkcs1(key ? key : DevDecryptionPublicKey(), keyBlock)};
}

Bytes Seal::Build(const Bytes& body) const {
  const Bytes sig = signature ? *signature
                              : writer::SignMessage(key ? key : DevVerificationPrivateKey(),
                                                    signedData.value_or(body));
  return writer::EncodeSeal(
      {open, version, keyId, sig, keyIdLength, signatureLength, gap, close, length});
}

Bytes Container::Plaintext() const { return seal ? Concat(body, seal->Build(body)) : body; }

Bytes Container::Header() const {
  return writer::EncodeHeader(
      {magic, version, count,
       records.value_or(std::vector{WrappedFor(kKeyId10, KeyBlock(sessionKey))}), iv});
}

Bytes Container::Build() const {
  Bytes out =
      Concat(Header(), payload.value_or(writer::EncryptPayload(sessionKey, iv, Plaintext())));
  if (cutTo) out.resize(std::min(*cutTo, out.size()));
  return out;
}

Bytes Block::Build() const {
  Bytes sig = signature;
  if (signOver) {
    writer::BlockSigner signer(key ? key : DevVerificationPrivateKey(), {id, text, link});
    for (const auto& line : *signOver) signer.AddLine(line);
    sig = signer.Finish();
  }
  return writer::EncodeSignatureBlock(
      {magic, version, id, text, link, sig, textLength, linkLength, signatureLength, trailing});
}

Bytes LogChain::EmptyDigest() { return ChainStart(); }

LogBuilder& LogBuilder::Data(std::string_view line) {
  // A reader sees a CR right before the LF as part of the line end.
  std::string_view covered = line;
  if (covered.ends_with('\r')) covered.remove_suffix(1);
  pending_.emplace_back(covered.substr(0, covered.find('\0')));
  return Raw(line).Raw(lineEnd_);
}

LogBuilder& LogBuilder::DataLines(int count, std::string_view prefix) {
  for (int i = 1; i <= count; ++i) Data(std::string(prefix) + std::to_string(i));
  return *this;
}

LogBuilder& LogBuilder::Sign(const std::function<void(Block&)>& adjust) {
  Block block{.link = chain_.value(), .signOver = pending_};
  if (adjust) adjust(block);
  const Bytes bytes = block.Build();
  chain_.Set(writer::Sha256(bytes));
  pending_.clear();
  return Raw(writer::SignatureLineOf(bytes)).Raw(lineEnd_);
}

LogBuilder& LogBuilder::EmptySignature() {
  chain_.Reset();
  return SignatureLine("");
}

LogBuilder& LogBuilder::SignatureLine(std::string_view payload) {
  pending_.clear();
  return Raw("\x1F").Raw(payload).Raw("\x1F").Raw(lineEnd_);
}

LogBuilder& LogBuilder::Raw(std::string_view bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

LogBuilder& LogBuilder::Script(std::string_view script) {
  for (std::size_t at = 0; at < script.size();) {
    const std::size_t end = std::min(script.find(' ', at), script.size());
    std::string w(script.substr(at, end - at));
    at = end + 1;
    if (w.empty()) continue;
    for (auto& c : w) c = c == '|' ? '\x1F' : c == '~' ? '\0' : c;
    if (w == "crlf" || w == "lf") {
      lineEnd_ = w == "lf" ? "\n" : "\r\n";
    } else if (w == "E") {
      EmptySignature();
    } else if (w == "S" || (w.size() == 2 && w[0] == 'S' &&
                            std::string_view("!@0#").find(w[1]) != std::string_view::npos)) {
      Sign([&](Block& b) {
        if (w[1] == '!') b.signOver = {{"other"}};
        if (w[1] == '@') b.link = Bytes(32, 0xAB);
        if (w[1] == '0') b.link = LogChain::EmptyDigest();
        if (w[1] == '#') b.key = DevDecryptionPrivateKey();
      });
    } else if (w.size() >= 2 && w.front() == '\x1F' && w.back() == '\x1F') {
      SignatureLine(std::string_view(w).substr(1, w.size() - 2));
    } else if (w.front() == '+') {
      Raw(std::string_view(w).substr(1));
    } else {
      Data(w);
    }
  }
  return *this;
}

void LogBuilder::WriteTo(const std::filesystem::path& path) const { WriteFile(path, bytes_); }

}  // namespace qve::testing
