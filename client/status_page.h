// "MyQuorvane.html": the user's name and team, a link to "unitinfo.txt" and to the project's pages.
#pragma once

inline constexpr const char* kStatusPageFileName = "MyQuorvane.html";

// Writes the page from the loaded configuration; a page that cannot be opened is logged and skipped.
void WriteStatusPage();
