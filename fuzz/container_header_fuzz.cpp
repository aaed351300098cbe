// SPDX-License-Identifier: Apache-2.0
// Whatever the bytes, the reader stays within its limits and, when it accepts
// a header, leaves the stream exactly behind the bytes that header is made of.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "decrypt/container_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size),
                           std::ios::binary);
  qve::Bytes iv(qve::kPayloadIvLength);
  std::vector<qve::RecipientEntry> recipients;
  const auto status = qve::ReadHeader(input, iv, recipients);
  if (recipients.size() > qve::kMaxRecipients) std::abort();
  std::size_t consumed = qve::kFixedHeaderSize + iv.size();
  for (const auto& entry : recipients) {
    if (entry.keyId.size() > qve::kMaxKeyIdLength ||
        entry.wrappedKey.size() > qve::kMaxWrappedKeyLength)
      std::abort();
    consumed += 5 + entry.keyId.size() + entry.wrappedKey.size();
  }
  if (status == qve::HeaderStatus::Complete) {
    if (consumed > size || recipients.size() != data[6]) std::abort();
    input.clear();
    if (static_cast<std::size_t>(input.tellg()) != consumed) std::abort();
  }
  return 0;
}
