// Installs a core from a signed bundle on disk (verify, decompress, write, sync, rename) and prints the
// seconds it took: bench_install BUNDLE CORE
#include <chrono>
#include <cstdio>

#include "base/log.h"
#include "cores/core_download.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_install BUNDLE CORE\n");
    return 2;
  }
  LogSetConsoleEcho(0);
  const auto start = std::chrono::steady_clock::now();
  const int rc = UnzipCore(0x65, argv[1], argv[2]);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.4f\n", took.count());
  return rc == 0 ? 0 : 1;
}
