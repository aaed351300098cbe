// SPDX-License-Identifier: Apache-2.0
// The exported decryption functions.
#include <fstream>
#include <string>
#include <system_error>

#include "crypto/built_in_keys.h"
#include "decrypt/block_buffers.h"
#include "decrypt/decrypt_file.h"
#include "decrypt/decrypt_stream.h"
#include "decrypt/output_signature.h"
#include "decrypt/seal_trailer.h"
#include "platform/files.h"
#include "qvehelper/contract.h"

namespace qve {

using namespace QVE_Helper;  // the results, by their names

DecryptResult DecryptFile(const std::wstring& inputPath, const std::wstring& outputPath,
                          DecryptProgress* progress) {
  platform::FileStream input;
  if (!platform::OpenForReading(input, inputPath)) return InputOpenFailed;
  // Two names of one file (another case, a link, another spelling): creating
  // the output would destroy the container, so neither is touched.
  if (const auto output = platform::IdentityOf(outputPath);
      output && output == platform::IdentityOf(inputPath))
    return OutputOpenFailed;

  SealInfo seal;
  {
    platform::FileStream output;
    if (!platform::OpenForWriting(output, outputPath)) return OutputOpenFailed;
    seal.Clear();
    BlockReadBuffer containerBlocks(*input.rdbuf(), kFileBlockSize,
                                    DecryptProgress::ReadingContainer(progress));
    std::istream container(&containerBlocks);
    BlockWriteBuffer outputBlocks(*output.rdbuf(), kFileBlockSize);
    std::ostream plaintext(&outputBlocks);
    DecryptResult decrypted = DecryptStream(container, plaintext, seal);
    // Handing over what the block buffer still holds is part of the writing:
    // a refusal there is a failed write, as it would be without the buffer.
    // A failure of the close itself only loses bytes; the size check sees it.
    if (plaintext.flush().fail() && decrypted == Success) decrypted = OutputWriteFailed;
    output.close();
    DecryptProgress::ContainerRead(progress, containerBlocks.handedOut());
    if (decrypted != Success) return decrypted;
  }
  if (seal.length == 0) return NoSeal;

  std::error_code error;
  const std::uint64_t size = platform::FileSize(outputPath, error);
  if (error) return OutputSizeFailed;
  if (size < seal.length) return OutputTruncateFailed;
  platform::TruncateFile(outputPath, size - seal.length, error);
  if (error) return OutputTruncateFailed;
  const std::uint64_t plaintext = size - seal.length;
  const auto tell = [&](std::uint64_t done) {
    return progress == nullptr || progress->Tell(DecryptStep::CheckingSeal, done, plaintext);
  };

  input.close();
  if (!platform::OpenForReading(input, outputPath)) return OutputReopenFailed;
  BlockReadBuffer outputBlocks(*input.rdbuf(), kFileBlockSize, tell);
  std::istream truncated(&outputBlocks);
  const VerificationKey key;
  const DecryptResult result = VerifyOutputSignature(truncated, seal, key);
  tell(outputBlocks.handedOut());
  return result;
}

}  // namespace qve

namespace QVE_Helper {

DecryptResult Decrypt(const std::wstring& inputPath, const std::wstring& outputPath) {
  return qve::DecryptFile(inputPath, outputPath);
}

}  // namespace QVE_Helper

// A null path is outside the contract, but a host's slip must not end its
// process: it is a file that does not open, and as in a decryption the input
// is tried first.
extern "C" int32_t DecryptQveFile(const wchar_t* inputPath, const wchar_t* outputPath) {
  if (inputPath == nullptr) return QVE_Helper::InputOpenFailed;
  if (outputPath == nullptr) {
    qve::platform::FileStream input;
    return qve::platform::OpenForReading(input, inputPath) ? QVE_Helper::OutputOpenFailed
                                                           : QVE_Helper::InputOpenFailed;
  }
  return QVE_Helper::Decrypt(std::wstring(inputPath), std::wstring(outputPath));
}
