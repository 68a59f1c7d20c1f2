// Replays a saved fuzz corpus through the fuzz target's entry function, so
// that every build with tests runs the corpus as an ordinary test, without
// libFuzzer. The target checks its own invariants and aborts on a broken one.
//
// usage: TARGET_corpus_replay CORPUS_DIR
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Far above any saved input (scripts/fuzz.sh tries inputs of a few KiB).
constexpr std::uintmax_t kMaxInputSize = 1 << 20;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<fs::path> inputs;
    for (fs::directory_iterator entry(argv[1], error), end; !error && entry != end; entry.increment(error))
        if (entry->is_regular_file()) inputs.push_back(entry->path());
    if (error) {
        std::fprintf(stderr, "corpus_replay: %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    // An empty corpus would pass without testing anything.
    if (inputs.empty()) {
        std::fprintf(stderr, "corpus_replay: %s holds no inputs\n", argv[1]);
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());  // a failure names the same input every run
    for (const fs::path& path : inputs) {
        const std::uintmax_t size = fs::file_size(path, error);
        if (error || size > kMaxInputSize) {
            std::fprintf(stderr, "corpus_replay: %s: unreadable or larger than %s bytes\n",
                         path.string().c_str(), std::to_string(kMaxInputSize).c_str());
            return 1;
        }
        std::ifstream file(path, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) {
            std::fprintf(stderr, "corpus_replay: %s: read failed\n", path.string().c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%s inputs replayed\n", std::to_string(inputs.size()).c_str());
    return 0;
}
