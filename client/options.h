// The command line: option parsing with its exact console messages, and the usage text.
#pragma once

#include "base/settings.h"

// Parses argv[1..] into options and g_settings. 0 when every argument was accepted; -1 after printing
// the error text to the console. Fewer than two arguments: nothing is done, 0.
[[nodiscard]] int ParseOptions(int argc, char** argv, RunOptions* options);
// The usage text, with the program name cut to 30 characters.
void PrintUsage();
