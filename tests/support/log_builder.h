// The command tests still include this name.
#pragma once
#include "tests/support/builders.h"
#include "tests/support/harness.h"
