// The fluent names the command tests still use, over the aggregates of
// builders.h; goes when those tests build their inputs with the aggregates.
#pragma once

#include "tests/support/builders.h"

namespace qve::testing {

struct SealTrailerBuilder : Seal {
  SealTrailerBuilder& KeyId(Bytes v) { return keyId = std::move(v), *this; }
  SealTrailerBuilder& Signature(Bytes v) { return signature = std::move(v), *this; }
  SealTrailerBuilder& ClosingTag(std::string v) { return close = std::move(v), *this; }
};

struct ContainerBuilder : Container {
  ContainerBuilder& Body(Bytes v) { return body = std::move(v), *this; }
  ContainerBuilder& Magic(std::string v) { return magic = std::move(v), *this; }
  ContainerBuilder& Trailer(Seal v) { return seal = std::move(v), *this; }
  ContainerBuilder& NoTrailer() { return seal.reset(), *this; }
};

}  // namespace qve::testing
