// Every IR type's JSON form: one description per record, from which the writers and the reader are driven.
#pragma once

#include "ir/json_form.h"             // IWYU pragma: export
#include "ir/json_forms_code.h"       // IWYU pragma: export
#include "ir/json_forms_judgments.h"  // IWYU pragma: export
#include "ir/json_forms_program.h"    // IWYU pragma: export
