#pragma once

#include <string>

namespace PlatformTools
{

// Enters a directory and returns to the previous working directory when it goes out of scope
// (libarchive writes relative to the working directory).
class CDirectoryChange
{
public:
    explicit CDirectoryChange(const std::string& sDirectory);
    ~CDirectoryChange();
    CDirectoryChange(const CDirectoryChange&) = delete;
    CDirectoryChange& operator=(const CDirectoryChange&) = delete;

private:
    int m_iSaved;
};

} // namespace PlatformTools
