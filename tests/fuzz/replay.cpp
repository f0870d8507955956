// Runs every file under the given paths through the fuzz entry point once, without libFuzzer.
// Paths after --loader are plain image files: they go in with the loader's mode byte in front.
// A mismatch or a crash ends the process abnormally, naming the file last printed.
#include "fuzz_ombrelux.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> filesUnder(const fs::path &path)
{
    std::vector<fs::path> files;
    if (fs::is_regular_file(path)) {
        files.push_back(path);
    } else {
        for (const fs::directory_entry &entry : fs::recursive_directory_iterator(path))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> readBytes(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char *argv[])
{
    bool asImages = false;
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--loader") {
            asImages = true;
            continue;
        }
        if (!fs::exists(argument)) {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argument.c_str());
            return 1;
        }
        for (const fs::path &file : filesUnder(argument)) {
            std::vector<std::uint8_t> bytes = readBytes(file);
            if (asImages)
                bytes.insert(bytes.begin(), FuzzLoader);
            std::fprintf(stderr, "replay: %s\n", file.c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fputs("usage: fuzz_replay [CORPUS...] [--loader IMAGES...]; no input found\n", stderr);
        return 1;
    }
    std::printf("replay: %d inputs, no mismatch\n", replayed);
    return 0;
}
