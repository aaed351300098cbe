// SPDX-License-Identifier: Apache-2.0
// The extension's decryption into a temporary file, the seal's digest
// taken as the plaintext goes out.
#include <istream>
#include <ostream>
#include <system_error>

#include "crypto/built_in_keys.h"
#include "decrypt/block_buffers.h"
#include "decrypt/decrypt_file.h"
#include "decrypt/decrypt_stream.h"
#include "decrypt/output_signature.h"
#include "decrypt/plaintext_digest.h"
#include "decrypt/seal_trailer.h"
#include "platform/files.h"
#include "platform/temp_output.h"

namespace qve {

using namespace QVE_Helper;  // the results, by their names

DecryptResult DecryptIntoTemporary(const std::wstring& inputPath, platform::TempOutput& output,
                                   platform::WorkerPool* pool, DecryptProgress* progress,
                                   std::error_code& writeError) {
  platform::FileStream input;
  if (!platform::OpenForReading(input, inputPath)) return InputOpenFailed;
  const VerificationKey key;
  OutputVerifier verifier(key);
  PlaintextDigest digest(verifier, pool);
  PlaintextSink sink(digest, &output);
  SealInfo seal;
  {
    BlockReadBuffer containerBlocks(*input.rdbuf(), kFileBlockSize,
                                    DecryptProgress::ReadingContainer(progress));
    std::istream container(&containerBlocks);
    std::ostream plaintext(&sink);
    DecryptionContext context;
    DecryptResult decrypted = OpenPayload(container, context);
    if (decrypted == Success) decrypted = DecryptPayload(context, container, plaintext);
    if (decrypted == Success && !sink.Flush()) decrypted = OutputWriteFailed;
    writeError = sink.writeError();
    DecryptProgress::ContainerRead(progress, containerBlocks.handedOut());
    if (decrypted != Success) return decrypted;
    seal.length = ParseSeal(context.trailingWindow.Contents(), seal.keyId, seal.signature);
  }
  if (seal.length == 0) return NoSeal;

  // The file must hold what went out, or the digest would not be of it.
  const std::uint64_t size = output.Size();
  if (size != sink.total()) return OutputSizeFailed;
  std::error_code error;
  output.Truncate(size - seal.length, error);
  if (error) return OutputTruncateFailed;
  const std::uint64_t plaintext = size - seal.length;
  const auto tell = [&](std::uint64_t done) {
    return progress == nullptr || progress->Tell(DecryptStep::CheckingSeal, done, plaintext);
  };
  if (!tell(0)) return VerifyUpdateFailed;  // stopped: the result means nothing
  if (verifier.bound() != Success) return verifier.bound();
  if (!sink.FinishAllBut(seal.length)) return VerifyUpdateFailed;
  const DecryptResult result = verifier.Finish(seal);
  tell(plaintext);
  return result;
}

}  // namespace qve
