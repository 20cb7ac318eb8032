// Fuzz entry: the core bundle verifier on arbitrary bytes, as a hostile download location could serve them.
#include <cstdint>
#include <cstdlib>

#include "base/log.h"
#include "cores/bundle_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  static const bool quiet = [] {
    LogSetConsoleEcho(0);
    return true;
  }();
  (void)quiet;
  BundlePayload payload{};
  if (VerifyBundleImage(data, size, &payload) == 0) {
    // Whatever it accepts lies within the image.
    if (payload.data < data || payload.data + payload.length > data + size) std::abort();
  }
  return 0;
}
