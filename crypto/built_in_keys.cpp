// SPDX-License-Identifier: Apache-2.0
#include "crypto/built_in_keys.h"

#include <openssl/core_names.h>
#include <openssl/x509.h>

#include <utility>

#include "crypto/digest.h"

namespace qve {

BignumPtr ReadMpi(const StoredComponent& component) {
  return BignumPtr(BN_mpi2bn(component.bytes, static_cast<int>(component.length), nullptr));
}

namespace {

bool PushAll(OSSL_PARAM_BLD* bld,
             std::initializer_list<std::pair<const char*, const BIGNUM*>> all) {
  for (const auto& [name, value] : all) {
    if (value == nullptr || OSSL_PARAM_BLD_push_BN(bld, name, value) != 1) return false;
  }
  return true;
}

}  // namespace

void SetRsaComponents(PkeyPtr& pkey, BignumPtr n, BignumPtr e, BignumPtr d, BignumPtr p,
                      BignumPtr q, BignumPtr dP, BignumPtr dQ) {
  pkey.reset();
  ParamBldPtr bld(OSSL_PARAM_BLD_new());
  if (!bld ||
      !PushAll(bld.get(), {{OSSL_PKEY_PARAM_RSA_N, n.get()}, {OSSL_PKEY_PARAM_RSA_E, e.get()}}))
    return;

  int selection = EVP_PKEY_PUBLIC_KEY;
  BignumPtr iqmp;
  if (d) {
    if (!PushAll(bld.get(), {{OSSL_PKEY_PARAM_RSA_D, d.get()}})) return;
    selection = EVP_PKEY_KEYPAIR;
  }
  if (d && p && q && dP && dQ) {
    // Secure, so that the working values of the inverse are wiped too.
    BnCtxPtr bnCtx(BN_CTX_secure_new());
    if (!bnCtx) return;
    iqmp.reset(BN_mod_inverse(nullptr, q.get(), p.get(), bnCtx.get()));
    if (!PushAll(bld.get(), {{OSSL_PKEY_PARAM_RSA_FACTOR1, p.get()},
                             {OSSL_PKEY_PARAM_RSA_FACTOR2, q.get()},
                             {OSSL_PKEY_PARAM_RSA_EXPONENT1, dP.get()},
                             {OSSL_PKEY_PARAM_RSA_EXPONENT2, dQ.get()},
                             {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, iqmp.get()}}))
      return;
  }

  ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return;
  EVP_PKEY* built = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &built, selection, params.get()) != 1) return;
  pkey.reset(built);
}

Bytes PublicKeyFingerprint(const EVP_PKEY* key) {
  if (key == nullptr) return {};
  const int length = i2d_PUBKEY(key, nullptr);
  if (length <= 0) return {};
  Bytes der(static_cast<std::size_t>(length));
  unsigned char* end = der.data();
  if (i2d_PUBKEY(key, &end) != length) return {};
  Bytes fingerprint(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_Digest(der.data(), der.size(), fingerprint.data(), &size, LibraryDigest(), nullptr) != 1)
    return {};
  fingerprint.resize(size);
  return fingerprint;
}

DecryptionKey::DecryptionKey() : keyId_(KeyIdOf(kDecryptionKeyNumber)) {
  using namespace stored_keys;
  BignumPtr n = ReadMpi(kDecryptionN), e = ReadMpi(kDecryptionE), d = ReadMpi(kDecryptionD),
            p = ReadMpi(kDecryptionP), q = ReadMpi(kDecryptionQ), dP = ReadMpi(kDecryptionDP),
            dQ = ReadMpi(kDecryptionDQ);
  // A component OpenSSL could not read leaves no key rather than a weaker one.
  if (!n || !e || !d || !p || !q || !dP || !dQ) return;
  SetRsaComponents(pkey_, std::move(n), std::move(e), std::move(d), std::move(p), std::move(q),
                   std::move(dP), std::move(dQ));
}

VerificationKey::VerificationKey() : keyId_(KeyIdOf(kVerificationKeyNumber)) {
  using namespace stored_keys;
  SetRsaComponents(pkey_, ReadMpi(kVerificationN), ReadMpi(kVerificationE), nullptr, nullptr,
                   nullptr, nullptr, nullptr);
}

}  // namespace qve
