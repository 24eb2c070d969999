#include "DirectoryChange.h"

#include "ToolError.h"

#include <fcntl.h>
#include <unistd.h>

namespace PlatformTools
{

CDirectoryChange::CDirectoryChange(const std::string& sDirectory)
    : m_iSaved(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (m_iSaved < 0)
        throw CToolError::fromErrno("cannot open the working directory");
    if (::chdir(sDirectory.c_str()) != 0)
    {
        ::close(m_iSaved);
        throw CToolError::fromErrno("cannot enter " + sDirectory);
    }
}

CDirectoryChange::~CDirectoryChange()
{
    // Failing to return leaves nothing better to do than carry on.
    [[maybe_unused]] const int rc = ::fchdir(m_iSaved);
    ::close(m_iSaved);
}

} // namespace PlatformTools
