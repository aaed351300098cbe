// SPDX-License-Identifier: Apache-2.0
// The words and escaping the commands share with the library, under the
// names the commands use.
#pragma once

#include "platform/paths.h"
#include "text/escape.h"

namespace qve::command {

using platform::ShownText;
using text::Counted;
using text::Escaped;
using text::EscapedHtml;
using text::FromHex;
using text::Hex;
using text::LinesText;
using text::RangeText;

}  // namespace qve::command
