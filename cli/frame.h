// SPDX-License-Identifier: Apache-2.0
// The command frame (command/), which qvehelper shares with qvehelper-dev:
// its names are every command's own here.
#pragma once

#include "command/command_line.h"
#include "command/escape.h"

namespace qve::cli {

using namespace qve::command;

}  // namespace qve::cli
