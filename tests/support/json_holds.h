// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qve::testing {

// Each value of `expected` is at its place in `actual`; what it does not
// name may be anything.
inline void ExpectHolds(const nlohmann::json& actual, const std::string& expected) {
  const nlohmann::json flat = actual.flatten();
  const nlohmann::json values = nlohmann::json::parse(expected).flatten();
  for (const auto& [pointer, value] : values.items())
    EXPECT_TRUE(flat.contains(pointer) && flat[pointer] == value) << pointer << "\n" << actual;
}

// `parts` stand in `text` in this order; none at all means `text` is empty.
inline void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    at = text.find(part, at);
    EXPECT_NE(at, std::string::npos) << part << "\n" << text;
  }
  if (parts.empty()) {
    EXPECT_EQ(text, "");
  }
}

}  // namespace qve::testing
