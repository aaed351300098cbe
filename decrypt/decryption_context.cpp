#include "decrypt/decryption_context.h"

namespace qve {

DecryptionContext::DecryptionContext(std::istream& input)
    : input(input),
      cipher(PayloadCipher()),
      cipherContext(EVP_CIPHER_CTX_new()),
      blockSize(EVP_CIPHER_get_block_size(cipher)) {}

}  // namespace qve
