#include <utils/OwnLink.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orbilib
{
namespace utils
{
namespace
{
// More links in a row than anybody sets up; a loop ends here too.
const int kMaxLinks = 16;

std::string folderOf(const std::string& path)
{
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string(".") : cut == 0 ? "/" : path.substr(0, cut);
}
} // namespace

bool followOwnLinks(const std::string& path, std::string& target, std::string& problem)
{
    target = path;
    for (int links = 0;; ++links)
    {
        struct stat status;
        if (::lstat(target.c_str(), &status) != 0)
        {
            if (errno == ENOENT)
                return true;
            problem = target + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISLNK(status.st_mode))
            return true;
        if (status.st_uid != ::geteuid())
        {
            problem = "refusing to follow the symbolic link " + target +
                      ", which belongs to another user";
            return false;
        }
        if (links == kMaxLinks)
        {
            problem = "too many symbolic links at " + path;
            return false;
        }
        std::vector<char> buffer(static_cast<std::size_t>(status.st_size) + 2);
        const ssize_t length = ::readlink(target.c_str(), buffer.data(), buffer.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        {
            problem = "cannot read the symbolic link " + target;
            return false;
        }
        const std::string next(buffer.data(), static_cast<std::size_t>(length));
        target = next[0] == '/' ? next : folderOf(target) + "/" + next;
    }
}

} // namespace utils
} // namespace orbilib
