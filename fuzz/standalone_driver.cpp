// Runs a fuzz target without libFuzzer: every file of the corpus folder given, then a fixed
// number of inputs mutated from them with a fixed seed, so that the test is repeatable.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  // Without its corpus the run would only mutate an empty input and prove nothing: a missing,
  // empty or unreadable corpus fails the test.
  if (argc != 2 || !std::filesystem::is_directory(argv[1])) {
    std::fprintf(stderr, "fuzz driver: no corpus folder given (%s)\n", argc > 1 ? argv[1] : "");
    return 2;
  }
  std::vector<std::vector<uint8_t>> corpus;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "fuzz driver: cannot read %s\n", entry.path().c_str());
      return 2;
    }
    corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (corpus.empty()) {
    std::fprintf(stderr, "fuzz driver: the corpus folder %s holds no inputs\n", argv[1]);
    return 2;
  }
  const size_t corpusFiles = corpus.size();
  corpus.emplace_back();
  for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());

  std::mt19937 random(12345);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> input = corpus[random() % corpus.size()];
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
      switch (random() % 4) {
        case 0:
          if (!input.empty()) input[random() % input.size()] = static_cast<uint8_t>(random());
          break;
        case 1:
          input.insert(input.begin() + (input.empty() ? 0 : random() % input.size()),
                       static_cast<uint8_t>(random()));
          break;
        case 2:
          if (!input.empty()) input.resize(random() % input.size());
          break;
        case 3:
          if (input.size() < 2048) input.resize(input.size() + random() % 64, 0xFF);
          break;
      }
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("fuzz driver: %zu corpus inputs, 20000 mutated inputs, no fault\n", corpusFiles);
  return 0;
}
