// A fuzz target without libFuzzer: feeds every file named on the command line, and
// every file in a folder named there, to the target once. The ordinary and the
// sanitizer test runs replay the corpus this way, so an input that once broke the
// program is checked on every build, with or without clang.

#include "common/Files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> files;
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else {
            files.emplace_back(argv[i]);
        }
        for (const fs::path& file : files) {
            const std::string bytes = morvane::readFileBytes(file);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    // No input at all is a mistyped corpus folder, not a pass.
    return replayed > 0 ? 0 : 1;
}
