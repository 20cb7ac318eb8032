// One 1024-bit exponent-17 signature verification with the test key (goal: under 2 ms).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/signature.h"

namespace {

std::vector<u8> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<u8> GoodSignature() {
  std::ifstream in(QVN_FIXTURES "/signatures.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("good|", 0) != 0) continue;
    const std::string hex = line.substr(line.rfind('|') + 1);
    std::vector<u8> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<u8>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
  }
  return {};
}

void BM_Verify1024(benchmark::State& state) {
  const std::vector<u8> keyBytes = FileBytes(QVN_FIXTURES "/test_key.pub");
  const std::vector<u8> sigBytes = GoodSignature();
  KeyRecord key{};
  SignatureRecord sig{};
  u64 consumed = 0;
  if (v3KeyLoad(&key, &consumed, keyBytes.data(), keyBytes.size(), nullptr) != 0 ||
      v3SignatureLoad(&sig, &consumed, sigBytes.data(), sigBytes.size()) != 0) {
    state.SkipWithError("fixtures missing");
    return;
  }
  for (auto _ : state) {
    u8 digest[V3_DIGEST_SIZE];
    v3Time time{};
    u8 hashCode = 0, formatCode = 0;
    if (v3SignatureVerify(digest, &time, &hashCode, &formatCode, &sig, &key) != 0) state.SkipWithError("refused");
    benchmark::DoNotOptimize(digest);
  }
  v3SignatureFree(&sig);
  v3KeyFree(&key);
}
BENCHMARK(BM_Verify1024)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
