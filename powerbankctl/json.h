// JSON out: the documents are laid out by their writers; this quotes text.
#pragma once

#include <stdio.h>

namespace powerbankctl {

// S quoted and escaped, or null when S is null.
void json_string(FILE *out, const char *s);
// {"error": WHY} on standard output: how a refused call answers.
void json_error(const char *why);

}  // namespace powerbankctl
