// SPDX-License-Identifier: Apache-2.0
// The library's escaping, under the names the commands use.
#pragma once

#include "platform/escape.h"

namespace qve::cli {

using qve::Escaped;
using qve::EscapedHtml;
using qve::FromHex;
using qve::Hex;
using qve::Narrow;

}  // namespace qve::cli
