// The start-up banner, written through the log so it reaches the console and the log file.
#pragma once

void PrintBanner();
