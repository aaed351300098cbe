// SPDX-License-Identifier: Apache-2.0
// Writer side of signed logs: copies a text log and inserts signature lines,
// each block linked to the one before it, so that a set of files forms one
// chain. Streams: neither a line nor a block is ever held whole.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "crypto/digest.h"
#include "format/bytes.h"
#include "format/signed_log_format.h"

namespace qve::writer {

// SHA-256, the digest that links one block to the next.
Bytes Sha256(std::span<const std::uint8_t> bytes);

// A signature line without its line end: 0x1F, the block in base64, 0x1F.
std::string SignatureLineOf(std::span<const std::uint8_t> block);

struct LogSignerOptions {
  EVP_PKEY* key = nullptr;        // RSA private key
  std::uint32_t id = 0;           // carried in every block
  std::string text;               // carried in every block, at most 2048 bytes
  std::size_t linesPerBlock = 0;  // 0: a single signature line at the end
  Bytes link = ChainStart();
};

// Copies the log at `inputPath` to `out`, read as the library reads text,
// with a signature line after every `linesPerBlock` lines and one after the
// last. Each line keeps its line end, LF or CR LF; a last line without one
// gets one that keeps it as the library reads it, and a signature line takes
// the line end of the line before it. Returns the chain value after the last
// block. Throws UnusableInput for an input that does not open as a regular
// file, and for input that a verifier would not read as the same lines: a
// line that reads as a signature line, a 0x1A byte (which ends the input
// for a reader) or a NUL (after which a signature covers nothing of its
// line).
Bytes SignLog(const std::string& inputPath, std::ostream& out, const LogSignerOptions& options);

}  // namespace qve::writer
