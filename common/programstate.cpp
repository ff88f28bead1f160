#include "common/programstate.h"

ProgramState g_program = {};
