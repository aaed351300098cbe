// The command tests still include this name.
#pragma once
#include "tests/support/builders.h"
