// The IR: the linked, checked and lowered program that everything after the compiler reads.
#pragma once

#include "ir/code.h"     // IWYU pragma: export
#include "ir/program.h"  // IWYU pragma: export
