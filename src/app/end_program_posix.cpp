#include "app/end_program.h"

#include <cstdlib>

void EndProgram(int code) { std::exit(code); }
