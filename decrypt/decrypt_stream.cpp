// SPDX-License-Identifier: Apache-2.0
#include "decrypt/decrypt_stream.h"

#include <array>

#include "crypto/built_in_keys.h"
#include "decrypt/seal_trailer.h"
#include "decrypt/session_key.h"

namespace qve {

using QVE_Helper::DecryptResult;

DecryptResult OpenPayload(std::istream& input, DecryptionContext& context) {
  context.iv.resize(kPayloadIvLength);
  if (ReadHeader(input, context.iv, context.recipients) != HeaderStatus::Complete)
    return QVE_Helper::HeaderInvalid;
  // Released on return, before the context.
  const DecryptionKey key;
  return UnwrapSessionKey(context, key) ? QVE_Helper::Success : QVE_Helper::SessionKeyUnavailable;
}

DecryptResult DecryptStream(std::istream& input, std::ostream& output, SealInfo& seal) {
  seal.Clear();
  DecryptionContext context;
  if (const DecryptResult opened = OpenPayload(input, context); opened != QVE_Helper::Success)
    return opened;
  const DecryptResult result = DecryptPayload(context, input, output);
  if (result != QVE_Helper::Success) return result;
  seal.length = ParseSeal(context.trailingWindow.Contents(), seal.keyId, seal.signature);
  return QVE_Helper::Success;
}

DecryptResult DecryptPayload(DecryptionContext& context, std::istream& input,
                             std::ostream& output) {
  std::array<char, kChunkSize> chunk;
  bool finalStep = false;
  do {
    int produced = 0;
    input.read(chunk.data(), chunk.size());
    const auto delivered = static_cast<int>(input.gcount());
    // Cipher errors go unreported: they produce nothing, which ends the loop,
    // and the missing plaintext shows as a missing seal or a bad signature.
    if (delivered > 0) {
      context.outputBuffer.resize(kPayloadBlockSize + static_cast<std::size_t>(delivered));
      context.cipher.Update(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                      static_cast<std::size_t>(delivered)),
                            context.outputBuffer.data(), produced);
    } else {
      context.outputBuffer.resize(kPayloadBlockSize);
      context.cipher.Final(context.outputBuffer.data(), produced);
      finalStep = true;
    }
    if (produced > 0) {
      context.trailingWindow.Append(
          std::span(context.outputBuffer).first(static_cast<std::size_t>(produced)));
      output.write(reinterpret_cast<const char*>(context.outputBuffer.data()), produced);
      if (output.fail()) return QVE_Helper::OutputWriteFailed;
    }
    if (produced <= 0) break;
  } while (!finalStep);
  return QVE_Helper::Success;
}

}  // namespace qve
