// SPDX-License-Identifier: Apache-2.0
// A whole decryption of a hostile container file: any result code will do,
// but nothing may crash or leak, the output file is always left behind, and a
// Success never yields more plaintext than the file carried.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "QVEHelper.h"
#include "format/container_format.h"
#include "platform/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string base = "/tmp/qve-fuzz-decrypt-" + std::to_string(::getpid());
  static const std::string input = base + ".qves";
  static const std::string output = base + ".out";

  std::FILE* file = std::fopen(input.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  const auto result =
      QVE_Helper::Decrypt(*qve::platform::ToWide(input), *qve::platform::ToWide(output));
  std::error_code error;
  const auto outputSize = std::filesystem::file_size(output, error);
  if (error) std::abort();
  // Plaintext is never longer than the ciphertext after header and IV.
  if (result == QVE_Helper::Success &&
      outputSize + qve::kFixedHeaderSize + qve::kPayloadIvLength > size)
    std::abort();

  std::remove(input.c_str());
  std::remove(output.c_str());
  return 0;
}
