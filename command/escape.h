// SPDX-License-Identifier: Apache-2.0
// The library's escaping, under the names the commands use.
#pragma once

#include "platform/escape.h"

namespace qve::command {

using platform::Counted;
using platform::Escaped;
using platform::EscapedHtml;
using platform::FromHex;
using platform::Hex;
using platform::LinesText;
using platform::Narrow;
using platform::RangeText;

}  // namespace qve::command
