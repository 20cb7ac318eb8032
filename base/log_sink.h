// The log's file copy, shared between the log writer and the code that opens the log file.
#pragma once

#include "runtime/file.h"

// Makes file the log's file copy (taking the record over) or, with null, closes the current one.
void LogAttachFile(const RuntimeFile* file);
