// SPDX-License-Identifier: Apache-2.0
// The library's link order, under the names the command uses.
#pragma once

#include "cli/verify_outcome.h"
#include "report/chain_links.h"

namespace qve::cli {

using qve::LinkOrder;
using qve::SortByLinks;
using qve::WarnAboutLinks;

}  // namespace qve::cli
