#pragma once
// A fresh folder per test, removed with everything in it at the end.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace veltrad::test {

class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = base / ("veltrad-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(candidate)) {
                m_path = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary folder");
    }
    ~TempDir()
    {
        std::error_code ec;
        // Give back write access first, tests make things read-only.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

    std::filesystem::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const auto p = m_path / name;
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    std::filesystem::path WriteText(const std::string& name, const std::string& text) const
    {
        const auto p = m_path / name;
        std::ofstream out(p, std::ios::binary);
        out << text;
        return p;
    }
    static std::string ReadText(const std::filesystem::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static std::vector<std::uint8_t> Read(const std::filesystem::path& p)
    {
        const std::string text = ReadText(p);
        return std::vector<std::uint8_t>(text.begin(), text.end());
    }

private:
    std::filesystem::path m_path;
};

}  // namespace veltrad::test
