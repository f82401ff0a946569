// The entry of a fuzz target built without libFuzzer: runs the target once on
// every file named on the command line, or found in a directory named there,
// in name order. Without arguments it replays the corpus it was built with
// (QUILLET_FUZZ_CORPUS). A broken property aborts; no input at all is an
// error too, so that a corpus that went missing does not pass unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputsOf(const fs::path& Path) {
  std::vector<fs::path> Files;
  if (fs::is_directory(Path)) {
    for (const auto& Entry : fs::directory_iterator(Path))
      if (Entry.is_regular_file()) Files.push_back(Entry.path());
    std::sort(Files.begin(), Files.end());
  } else if (fs::is_regular_file(Path)) {
    Files.push_back(Path);
  }
  return Files;
}

}  // namespace

int main(int Argc, char** Argv) {
  std::vector<fs::path> Roots(Argv + 1, Argv + Argc);
#ifdef QUILLET_FUZZ_CORPUS
  if (Roots.empty()) Roots.emplace_back(QUILLET_FUZZ_CORPUS);
#endif
  size_t Replayed = 0;
  for (const fs::path& Root : Roots) {
    for (const fs::path& File : InputsOf(Root)) {
      std::ifstream Stream(File, std::ios::binary);
      const std::string Bytes((std::istreambuf_iterator<char>(Stream)),
                              std::istreambuf_iterator<char>());
      std::fprintf(stderr, "%s\n", File.string().c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
      ++Replayed;
    }
  }
  if (Replayed == 0) {
    std::fprintf(stderr, "no input to replay\n");
    return 1;
  }
  std::printf("replayed %zu inputs\n", Replayed);
  return 0;
}
