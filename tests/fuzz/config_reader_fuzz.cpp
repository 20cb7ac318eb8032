// Fuzz entry: the configuration reader on arbitrary bytes, then lookups and sets on what it read.
#include <cstdlib>
#include <cstring>

#include "runtime/config.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  // Exactly the file's bytes plus the one terminator the loader adds, so a read past them is caught.
  char* text = static_cast<char*>(std::malloc(size + 1));
  std::memcpy(text, data, size);
  text[size] = '\0';
  ConfigFile doc{};
  if (v3ConfigParseText(&doc, text, size) == 0) {
    (void)v3ConfigGet(&doc, "settings", "username");
    (void)v3ConfigSet(&doc, "s", "u", "a longer value than most");
    (void)v3ConfigSet(&doc, "settings", "k", nullptr);
    (void)v3ConfigSet(&doc, "http", "active", "no");
  }
  v3ConfigFree(&doc);
  std::free(text);
  return 0;
}
