// SPDX-License-Identifier: Apache-2.0
#include "tools/writer/signature_block_writer.h"

#include "format/byte_builder.h"

namespace qve::writer {

Bytes EncodeSignatureBlock(const BlockLayout& block) {
  return ByteBuilder()
      .Tag(block.magic)
      .U32LE(block.version)
      .U32LE(block.id)
      .U32Prefixed(block.text, block.textLength)
      .U32Prefixed(block.link, block.linkLength)
      .U32Prefixed(block.signature, block.signatureLength)
      .Raw(block.trailing)
      .Take();
}

BlockSigner::BlockSigner(EVP_PKEY* privateKey, const BlockFields& fields)
    : MessageSigner(privateKey) {
  Add(ByteBuilder().U32LE(fields.id).Raw(fields.link).Tag(fields.text).Take());
}

void BlockSigner::AddLine(std::string_view line) {
  Add({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
  Add({&kCoveredLineEnd, 1});
}

Bytes SignBlock(EVP_PKEY* privateKey, const BlockFields& fields,
                const std::vector<std::string>& lines) {
  BlockSigner signer(privateKey, fields);
  for (const auto& line : lines) signer.AddLine(line);
  return EncodeSignatureBlock(
      {.id = fields.id, .text = fields.text, .link = fields.link, .signature = signer.Finish()});
}

std::string EncodeBase64(std::span<const std::uint8_t> bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = std::uint32_t(bytes[i]) << 16;
    if (n > 1) group |= std::uint32_t(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    for (std::size_t j = 0; j < 4; ++j)
      out.push_back(j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 63] : kBase64Stop);
  }
  return out;
}

}  // namespace qve::writer
