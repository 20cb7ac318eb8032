// Times one HTTPDownloadFile: bench_download HOST:PORT PATH OUTFILE; prints the seconds taken.
#include <chrono>
#include <cstdio>

#include "base/settings.h"
#include "net/http_exchange.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s HOST:PORT PATH OUTFILE\n", argv[0]);
    return 2;
  }
  g_settings.verbosity = 1;  // the per-piece progress lines would measure the console, not the download
  const auto start = std::chrono::steady_clock::now();
  const int rc = HTTPDownloadFile(argv[1], argv[2], argv[3]);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f\n", seconds);
  return rc == 0 ? 0 : 1;
}
