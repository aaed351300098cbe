#include "tools/writer/signature_block_writer.h"

#include "tools/writer/keys.h"

namespace qve::writer {

namespace {

void PutU32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(std::uint8_t(value >> shift));
}

void PutField(Bytes& out, std::span<const std::uint8_t> bytes) {
  PutU32(out, static_cast<std::uint32_t>(bytes.size()));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

Bytes SerializeSignatureBlock(const BlockFields& fields, std::span<const std::uint8_t> signature) {
  Bytes out{'Q', 'V'};
  PutU32(out, 2);
  PutU32(out, fields.id);
  PutField(out, AsBytes(fields.text));
  PutField(out, fields.link);
  PutField(out, signature);
  return out;
}

Bytes SignBlock(EVP_PKEY* privateKey, const BlockFields& fields,
                const std::vector<std::string>& lines) {
  Bytes message;
  PutU32(message, fields.id);
  message.insert(message.end(), fields.link.begin(), fields.link.end());
  message.insert(message.end(), fields.text.begin(), fields.text.end());
  for (const auto& line : lines) {
    message.insert(message.end(), line.begin(), line.end());
    message.push_back(0x00);
  }
  return SerializeSignatureBlock(fields, SignMessage(privateKey, message));
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
      out.push_back(j <= n ? kAlphabet[(group >> (18 - 6 * j)) & 63] : '=');
  }
  return out;
}

}  // namespace qve::writer
