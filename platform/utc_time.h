// SPDX-License-Identifier: Apache-2.0
// The time now, as records and pages write it, and a time as RFC 3339
// writes it, read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qve::platform {

// Now, in UTC, as `format` for strftime.
std::string UtcNow(const char* format);

// Whether `text` is a date and time as RFC 3339 writes them
// ("2026-12-07T02:05:47Z", "2026-12-07t03:05:47.5+01:00").
bool IsRfc3339(std::string_view text);

// Such a time as seconds since 1970 (UTC), fractions dropped; nothing for
// text that is not one.
std::optional<std::int64_t> Rfc3339Seconds(std::string_view text);

}  // namespace qve::platform
