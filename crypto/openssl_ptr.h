// SPDX-License-Identifier: Apache-2.0
// Owning handles for the OpenSSL objects the library creates.
#pragma once

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>

#include <memory>

namespace qve {

template <auto FreeFn>
struct OpenSslDeleter {
  template <typename T>
  void operator()(T* p) const noexcept {
    FreeFn(p);
  }
};

// OSSL_PARAM_clear_free, which OpenSSL offers only from 3.2 on: wipes every
// value of a parameter list, then frees it.
inline void ParamClearFree(OSSL_PARAM* params) {
  if (params == nullptr) return;
  for (OSSL_PARAM* p = params; p->key != nullptr; ++p) {
    if (p->data != nullptr) OPENSSL_cleanse(p->data, p->data_size);
  }
  OSSL_PARAM_free(params);
}

// Numbers and parameter lists are wiped when released: they carry the
// private key's components.
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_clear_free>>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, OpenSslDeleter<ParamClearFree>>;

using BnCtxPtr = std::unique_ptr<BN_CTX, OpenSslDeleter<BN_CTX_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, OpenSslDeleter<OSSL_PARAM_BLD_free>>;

}  // namespace qve
