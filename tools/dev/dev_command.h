// What the qvehelper-dev commands share beyond the frame: their inputs are
// checked before OUTPUT is touched (cli/output_file.h writes it), and what
// the writer throws is about an input or a key it could not use.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/output_file.h"

namespace qve::dev {

// An input, a key or --chain-from that cannot be used.
inline constexpr int kCannotUse = 1;

// For options that take a number: digits only, so "-1" is not read as a huge
// unsigned value; CLI11 then refuses what does not fit the type.
const CLI::Validator& Digits();

// The inputs as OUTPUT must not be: throws CommandError, kUsageError for a
// path that is empty or not UTF-8, kCannotUse for one that does not exist.
std::vector<cli::OutputInput> Inputs(const std::vector<std::string>& paths);

// Runs the work; a failure it throws that is not a CommandError becomes one
// with kCannotUse.
int RunWriter(const std::function<void()>& work);

}  // namespace qve::dev
