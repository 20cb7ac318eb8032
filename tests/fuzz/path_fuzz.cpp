// Fuzz entry: path normalisation keeps within 255 characters and removes every "|".
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/file.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  char out[V3_PATH_MAX + 1];
  if (v3PathNormalise(out, path.c_str()) == 0) {
    const size_t length = std::strlen(out);
    if (length == 0 || length > V3_PATH_MAX || std::strchr(out, '|') != nullptr) std::abort();
  }
  return 0;
}
