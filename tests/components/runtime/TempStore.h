// A temporary folder holding a registration store that this process uses while the object lives.
#pragma once

#include "ComRegistry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempStore {
public:
    TempStore()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qwrt-XXXXXX").string();
        m_dir = ::mkdtemp(pattern.data()) ? pattern : std::string();
        m_store = m_dir + "/quirewell.reg";
        comrt::SetRegistryStorePath(m_store);
    }
    ~TempStore()
    {
        comrt::SetRegistryStorePath({});
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    const std::string& dir() const { return m_dir; }
    const std::string& path() const { return m_store; }
    std::string text() const
    {
        std::ifstream in(m_store, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::string m_dir;
    std::string m_store;
};
