// The JSON layer in one include: the value model, the reader, the writers and the number forms.
// Prefer the narrower headers in widely included code (value.h alone for the model).
#pragma once

#include "json/number_format.h"
#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"
