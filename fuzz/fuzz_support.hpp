#pragma once
// What every fuzz harness shares: the readers take files by name in the
// working folder, so each harness works in a scratch folder of its own and
// writes every input there under the name the reader opens.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzz_support {

inline std::string& scratch_folder() {
    static std::string folder;
    return folder;
}

// Moves into a fresh folder under the system's temporary folder, removed again
// when the harness exits normally.
inline void enter_scratch_folder(const char* harness) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pdpcell-fuzz-" +
                          harness + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
        std::perror("pdpcell fuzz: scratch folder");
        std::abort();
    }
    scratch_folder() = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_folder(), ignored);
    });
}

inline void write_file(const char* name, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(name, "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::perror(name);
        std::abort();
    }
}

// A broken promise of the code under test: reported like a crash.
[[noreturn]] inline void finding(const std::string& what) {
    std::fprintf(stderr, "pdpcell fuzz finding: %s\n", what.c_str());
    std::abort();
}

}  // namespace fuzz_support
