// Runs a fuzz target over saved inputs, without libFuzzer: for builds where
// libFuzzer is missing, such as those for other processors. Each argument is
// a file, or a folder whose files are all fed to the target. A broken
// invariant aborts, as under libFuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> inputs;
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else {
            inputs.emplace_back(argv[i]);
        }
        for (const auto& path : inputs) {
            const std::vector<std::uint8_t> bytes = read_file(path);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    // Nothing replayed means a wrong path, not a pass.
    return count == 0 ? 1 : 0;
}
