// SPDX-License-Identifier: Apache-2.0
#include "decrypt/container_diagnosis.h"

#include <algorithm>
#include <stdexcept>
#include <streambuf>

#include "crypto/built_in_keys.h"
#include "decrypt/block_buffers.h"
#include "decrypt/decrypt_stream.h"
#include "decrypt/output_signature.h"
#include "decrypt/plaintext_digest.h"
#include "format/container_format.h"

namespace qve {

namespace {

// The library compares it only after the whole signature check.
bool NamesBuiltInKey(const Bytes& keyId) { return keyId == KeyIdOf(kVerificationKeyNumber); }

// The plaintext goes into the signature check as it is decrypted, none of
// it kept but the newest, which waits for the trailer to be known.
SealDiagnosis DecryptIntoMemory(DecryptionContext& context, std::istream& file,
                                platform::WorkerPool* pool) {
  SealDiagnosis seal;
  const VerificationKey key;
  OutputVerifier verifier(key);
  PlaintextDigest digest(verifier, pool);
  PlaintextSink sink(digest, nullptr);
  std::ostream plaintext(&sink);
  seal.decrypted = DecryptPayload(context, file, plaintext);
  seal.plaintextLength = sink.total();
  if (seal.decrypted != QVE_Helper::Success) return seal;

  const Bytes window = context.trailingWindow.Contents();
  SealInfo info;
  seal.stop =
      ParseSealStop(window, seal.plaintextLength - window.size(), info.keyId, info.signature);
  if (seal.stop.status != SealStatus::Found) return seal;
  info.length = seal.stop.length;
  seal.keyId = info.keyId;
  seal.namesBuiltInKey = NamesBuiltInKey(seal.keyId);
  seal.signatureLength = info.signature.size();
  if (verifier.bound() != QVE_Helper::Success) {
    seal.result = verifier.bound();
  } else if (!sink.FinishAllBut(info.length)) {
    seal.result = QVE_Helper::VerifyUpdateFailed;
  } else {
    seal.result = verifier.Finish(info);
  }
  return seal;
}

// Decrypts the last blocks of the payload, from `payloadStart` on, with a
// copy of the context's cipher.
TailDiagnosis DecryptTail(const DecryptionContext& context, std::istream& file,
                          std::uint64_t payloadStart, std::uint64_t payloadLength) {
  const std::size_t block = kPayloadBlockSize;
  // Padding takes at most one block, so one more leaves a whole window.
  const auto length =
      static_cast<std::size_t>(std::min<std::uint64_t>(payloadLength, kWindowSize + block));
  const std::uint64_t skipped = payloadLength - length;
  Bytes iv = context.iv;
  Bytes ciphertext(length);
  file.clear();
  if (skipped > 0) {
    file.seekg(static_cast<std::streamoff>(payloadStart + skipped - block));
    file.read(reinterpret_cast<char*>(iv.data()), static_cast<std::streamsize>(block));
  } else {
    file.seekg(static_cast<std::streamoff>(payloadStart));
  }
  file.read(reinterpret_cast<char*>(ciphertext.data()), static_cast<std::streamsize>(length));
  if (!file) throw std::runtime_error("the container cannot be read again");

  auto copy = context.cipher.CopyFrom(iv);
  Bytes plain(length + block);
  int updated = 0, finished = 0;
  if (!copy || !copy->Update(ciphertext, plain.data(), updated))
    throw std::runtime_error("OpenSSL cannot decrypt the end of the payload");
  TailDiagnosis tail;
  tail.paddingValid = copy->Final(plain.data() + updated, finished);
  plain.resize(static_cast<std::size_t>(updated + (tail.paddingValid ? finished : 0)));

  const std::span window = std::span(plain).last(std::min(plain.size(), kWindowSize));
  Bytes signature;
  tail.stop = ParseSealStop(window, skipped + plain.size() - window.size(), tail.keyId, signature);
  tail.namesBuiltInKey = tail.stop.status == SealStatus::Found && NamesBuiltInKey(tail.keyId);
  return tail;
}

}  // namespace

ContainerDiagnosis DiagnoseContainer(std::istream& file, std::uint64_t size, bool decrypt) {
  ContainerDiagnosis diagnosis;
  diagnosis.size = size;
  DecryptionContext context;
  context.iv.resize(kPayloadIvLength);
  file.clear();
  file.seekg(0);
  diagnosis.header = ReadHeaderStop(file, context.iv, context.recipients);
  for (std::size_t i = 0; i < context.recipients.size(); ++i) {
    const RecipientEntry& entry = context.recipients[i];
    diagnosis.records.push_back(
        {diagnosis.header.recordOffsets[i], entry.keyId, entry.wrappedKey.size()});
  }
  if (diagnosis.header.stop.status != HeaderStatus::Complete) return diagnosis;

  diagnosis.iv = context.iv;
  diagnosis.payloadLength = size - std::min(size, diagnosis.header.end);
  diagnosis.blockSize = kPayloadBlockSize;
  diagnosis.wholeBlocks = diagnosis.payloadLength % diagnosis.blockSize == 0;
  // Padding adds at least one byte, so even an empty plaintext takes a block.
  diagnosis.cutShort = !diagnosis.wholeBlocks || diagnosis.payloadLength == 0;
  {
    const DecryptionKey key;
    diagnosis.sessionKey = OpenSessionKey(context, key);
  }
  if (!diagnosis.sessionKey.ready) return diagnosis;
  if (decrypt) diagnosis.seal = DecryptIntoMemory(context, file, nullptr);
  if (diagnosis.wholeBlocks && diagnosis.payloadLength > 0)
    diagnosis.tail = DecryptTail(context, file, diagnosis.header.end, diagnosis.payloadLength);
  return diagnosis;
}

QVE_Helper::DecryptResult CheckInMemory(std::istream& file, DecryptProgress* progress,
                                        platform::WorkerPool* pool) {
  BlockReadBuffer blocks(*file.rdbuf(), kFileBlockSize,
                         DecryptProgress::ReadingContainer(progress));
  std::istream container(&blocks);
  DecryptionContext context;
  if (const auto opened = OpenPayload(container, context); opened != QVE_Helper::Success)
    return opened;
  const SealDiagnosis seal = DecryptIntoMemory(context, container, pool);
  DecryptProgress::ContainerRead(progress, blocks.handedOut());
  return seal.decrypted != QVE_Helper::Success ? seal.decrypted : seal.result;
}

}  // namespace qve
