// SPDX-License-Identifier: MIT
// A fresh folder per test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace bw::test {

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return m_path; }

    std::filesystem::path operator/(const std::string &name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Whole-file helpers for comparing transferred files.
std::string readFile(const std::filesystem::path &path);
void writeFile(const std::filesystem::path &path, const std::string &bytes);
// Deterministic pseudo-random bytes, so transfers show reordered or lost blocks.
std::string patternBytes(std::size_t size, unsigned seed = 1);

} // namespace bw::test
