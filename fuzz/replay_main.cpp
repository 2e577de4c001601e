// Runs a fuzz target once on each input file, for builds without libFuzzer: the test
// suite replays the corpora this way, in the release and the sanitizer builds.
//
//   velk_fuzz_NAME FILE_OR_FOLDER ...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      inputs.push_back(arg);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's length, so that a read past its end is caught.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    static uint8_t none;
    LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
  }
  printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
