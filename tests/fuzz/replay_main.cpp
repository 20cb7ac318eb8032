// Runs a fuzz entry over every file named on the command line (or in the folders named), without
// libFuzzer, so the seed corpus is replayed in every build of the test suite.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size);

namespace {

void Replay(const std::string& path, int* count) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") Replay(path + "/" + name, count);
    }
    closedir(dir);
    return;
  }
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  ++*count;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) Replay(argv[i], &count);
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
