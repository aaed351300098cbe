// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace qve::testing {

// Each value of `expected` is at its place in `actual`; what it does not
// name may be anything.
inline void ExpectHolds(const nlohmann::json& actual, const std::string& expected) {
  const nlohmann::json flat = actual.flatten();
  const nlohmann::json values = nlohmann::json::parse(expected).flatten();
  for (const auto& [pointer, value] : values.items())
    EXPECT_TRUE(flat.contains(pointer) && flat[pointer] == value) << pointer << "\n" << actual;
}

}  // namespace qve::testing
