// SPDX-License-Identifier: Apache-2.0
// What the decryption makes of a container, step by step, for a person
// looking for the fault: the header and where it stops, the records, the
// record the built-in key uses and how far its key gets, the payload, and on
// request one decryption into memory that finds and checks the seal. Every
// step is the library's own; nothing is written anywhere.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <vector>

#include "decrypt/container_header.h"
#include "decrypt/decrypt_file.h"
#include "decrypt/seal_trailer.h"
#include "decrypt/session_key.h"
#include "format/bytes.h"
#include "qvehelper/contract.h"

namespace qve {

struct RecordDiagnosis {
  std::uint64_t offset = 0;
  Bytes keyId;
  std::size_t wrappedKeyLength = 0;
};

struct SealDiagnosis {
  // What the decryption of the payload returned: Success or OutputWriteFailed.
  QVE_Helper::DecryptResult decrypted = QVE_Helper::Success;
  std::uint64_t plaintextLength = 0;
  SealStop stop;  // where recognising the trailer stopped; Found with its length
  Bytes keyId;
  bool namesBuiltInKey = false;  // keyId is the built-in verification key's
  std::size_t signatureLength = 0;
  // What the decryption would return with an output that takes everything:
  // NoSeal, or the signature check's Success, BadSignature, VerifyInitFailed
  // or VerifyUpdateFailed.
  QVE_Helper::DecryptResult result = QVE_Helper::NoSeal;
};

// The end of the payload decrypted alone: the newest window's worth of
// cipher blocks, the first of them chained to the block before it, with the
// session key. Cheap whatever the payload's size, and enough to tell a
// container cut short from one whose plaintext ends in no trailer, and to
// read the key the seal names.
struct TailDiagnosis {
  bool paddingValid = false;  // the last cipher block ends in valid padding
  SealStop stop;              // the trailer in the newest plaintext
  Bytes keyId;                // once Found: the key the seal names
  bool namesBuiltInKey = false;
};

struct ContainerDiagnosis {
  std::uint64_t size = 0;
  HeaderParse header;
  std::vector<RecordDiagnosis> records;  // every record read, whole or not
  // Once the header is complete:
  Bytes iv;
  std::uint64_t payloadLength = 0;
  std::size_t blockSize = 0;
  bool wholeBlocks = false;  // the payload is a whole number of cipher blocks
  // No padded plaintext encrypts to it: there is none (the file ends right
  // after the IV) or it is not whole blocks. The file was cut short.
  bool cutShort = false;
  SessionKeyCheck sessionKey;
  std::optional<TailDiagnosis> tail;  // when the key opens and there are whole blocks
  std::optional<SealDiagnosis> seal;  // when asked for and the key opens
};

// `file` is read from its start, `size` bytes long, and must seek. With
// `decrypt`, the whole payload is decrypted once more into memory. Throws
// std::runtime_error where OpenSSL fails.
ContainerDiagnosis DiagnoseContainer(std::istream& file, std::uint64_t size, bool decrypt);

// The result the decryption of the container in `file`, read once in order
// from its start, would give with an output that takes everything: the
// plaintext is checked as it is decrypted, in memory, none of it kept.
// `progress` hears how much of the container was read (DecryptStep::Decrypting);
// a thread of `pool` (may be null) takes the digest when one works for it.
QVE_Helper::DecryptResult CheckInMemory(std::istream& file, DecryptProgress* progress,
                                        platform::WorkerPool* pool);

}  // namespace qve
