// SPDX-License-Identifier: Apache-2.0
// Why a decryption gave its result, in words, as qvehelper prints them after
// the result: what the container's diagnosis finds wrong with it, and where
// a parser stopped inside it.
#pragma once

#include <string>

#include "decrypt/container_diagnosis.h"
#include "qvehelper/contract.h"

namespace qve {

// The cause in the container's terms; `diagnosis` is null when the
// container could not be read again (a pipe), which gives the general one.
// Empty for Success and for the results only the files explain
// (InputOpenFailed, OutputOpenFailed, OutputWriteFailed).
std::string ContainerCause(QVE_Helper::DecryptResult result, const ContainerDiagnosis* diagnosis);

// Where the header reader stopped: "version 2, expected 1".
std::string HeaderProblem(const HeaderStop& stop);

// Where recognising the seal trailer stopped: "closing tag 00000000,
// expected 5365616c".
std::string SealProblem(const SealStop& stop);

// A seal that names another key than the built-in verification key.
std::string OtherKey(const Bytes& keyId);

}  // namespace qve
