#pragma once
// A fresh temporary folder per test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

class TTempDir {
public:
    explicit TTempDir(const std::string& prefix = "pendock-test") {
#if defined(_WIN32)
        // No mkdtemp: a random name, made with create_directory, which fails when it exists.
        std::random_device seed;
        std::mt19937_64 random(seed());
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto candidate = base / (prefix + "-" + std::to_string(random() % 1000000000));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec) && !ec) {
                FPath = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary folder");
#else
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
#endif
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const {
        return FPath;
    }
    std::string File(const std::string& name) const {
        return (FPath / name).string();
    }

    // Writes content (bytes as given) to name in the folder; returns its full name.
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string file = File(name);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out)
            throw std::runtime_error("cannot write " + file);
        return file;
    }

private:
    std::filesystem::path FPath;
};
