// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace qve::dev {

// Where the development keys are looked for, relative to the program, so
// that a build tree or an installation moved elsewhere still finds them: the
// build tree's copy beside the program (keys/dev), then the installed one
// (../share/qvehelper/keys/dev).
std::vector<std::string> KeyDirCandidates();

// The first candidate that holds the keys; empty when none does.
std::string DefaultKeyDir();

// `name` in `keyDir`; when `keyDir` is empty (no default found), throws
// CommandError(kNoInput) saying where the keys were looked for.
std::string DevKeyFile(const std::string& keyDir, const std::string& name);

}  // namespace qve::dev
