// The exported decryption functions.
#include <fstream>
#include <string>
#include <system_error>

#include "QVEHelper.h"
#include "crypto/built_in_keys.h"
#include "decrypt/block_buffers.h"
#include "decrypt/decrypt_stream.h"
#include "decrypt/output_signature.h"
#include "decrypt/seal_trailer.h"
#include "platform/files.h"

namespace QVE_Helper {

DecryptResult Decrypt(const std::wstring& inputPath, const std::wstring& outputPath) {
  qve::platform::FileStream input;
  if (!qve::platform::OpenForReading(input, inputPath)) return InputOpenFailed;
  // Two names of one file (another case, a link, another spelling): creating
  // the output would destroy the container, so neither is touched.
  if (const auto output = qve::platform::IdentityOf(outputPath);
      output && output == qve::platform::IdentityOf(inputPath))
    return OutputOpenFailed;

  qve::SealInfo seal;
  {
    qve::platform::FileStream output;
    if (!qve::platform::OpenForWriting(output, outputPath)) return OutputOpenFailed;
    seal.Clear();
    qve::BlockReadBuffer containerBlocks(*input.rdbuf(), qve::kFileBlockSize);
    std::istream container(&containerBlocks);
    qve::BlockWriteBuffer outputBlocks(*output.rdbuf(), qve::kFileBlockSize);
    std::ostream plaintext(&outputBlocks);
    DecryptResult decrypted = qve::DecryptStream(container, plaintext, seal);
    // Handing over what the block buffer still holds is part of the writing:
    // a refusal there is a failed write, as it would be without the buffer.
    // A failure of the close itself only loses bytes; the size check sees it.
    if (plaintext.flush().fail() && decrypted == Success) decrypted = OutputWriteFailed;
    output.close();
    if (decrypted != Success) return decrypted;
  }
  if (seal.length == 0) return NoSeal;

  std::error_code error;
  const std::uint64_t size = qve::platform::FileSize(outputPath, error);
  if (error) return OutputSizeFailed;
  if (size < seal.length) return OutputTruncateFailed;
  qve::platform::TruncateFile(outputPath, size - seal.length, error);
  if (error) return OutputTruncateFailed;

  input.close();
  if (!qve::platform::OpenForReading(input, outputPath)) return OutputReopenFailed;
  qve::BlockReadBuffer outputBlocks(*input.rdbuf(), qve::kFileBlockSize);
  std::istream truncated(&outputBlocks);
  const qve::VerificationKey key;
  return qve::VerifyOutputSignature(truncated, seal, key);
}

}  // namespace QVE_Helper

extern "C" int32_t DecryptQveFile(const wchar_t* inputPath, const wchar_t* outputPath) {
  return QVE_Helper::Decrypt(std::wstring(inputPath), std::wstring(outputPath));
}
