// The decoder must stay within MaxDecodedSize and agree with itself on where
// it stopped, whatever the text.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypto/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<std::uint8_t> out(qve::MaxDecodedSize(size));
  const auto result = qve::DecodeBase64(out.data(), text, size);
  if (result.bytesWritten > out.size() || result.charactersConsumed > size) std::abort();
  // Decoding only the consumed prefix gives the same bytes.
  std::vector<std::uint8_t> again(qve::MaxDecodedSize(result.charactersConsumed));
  const auto prefix = qve::DecodeBase64(again.data(), text, result.charactersConsumed);
  if (prefix.bytesWritten != result.bytesWritten ||
      !std::equal(again.begin(), again.begin() + prefix.bytesWritten, out.begin()))
    std::abort();
  return 0;
}
