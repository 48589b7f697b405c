#pragma once
// A fresh temporary working folder for one test: the program reads and writes
// its files in the working directory.
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

struct TempFolder {
    std::filesystem::path previous;
    std::filesystem::path path;

    TempFolder() {
        previous = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "pdpcell-XXXXXX").string();
        path = mkdtemp(pattern.data());
        std::filesystem::current_path(path);
    }
    ~TempFolder() {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    static void write(const std::string& name, const std::string& text) {
        std::ofstream(name) << text;
    }
    static std::string read(const std::string& name) {
        std::ifstream in(name);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};
