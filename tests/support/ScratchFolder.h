// A fresh private folder under the temporary directory, removed with all it holds (whatever
// permissions a test left on it).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qwtest-XXXXXX").string();
        m_dir = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchFolder()
    {
        if (m_dir.empty())
            return;
        std::error_code ec;
        std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_dir, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return m_dir; }
    std::string file(const std::string& name) const { return m_dir + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }

private:
    std::string m_dir;
};
