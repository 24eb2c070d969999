#pragma once

#include <string>

namespace orbilib
{
namespace utils
{

// The file a store's path stands for. A symbolic link there that the current
// user owns is the user's own (dotfiles kept in another folder are often
// linked so) and is followed, link by link, to the file it names, existing or
// not; the store then reads and replaces that file and keeps the link. A link
// owned by anybody else may have been planted, in a shared folder for
// instance, and is refused: false, with the reason in problem. A path that is
// no link (or names nothing yet) is its own target.
bool followOwnLinks(const std::string& path, std::string& target, std::string& problem);

} // namespace utils
} // namespace orbilib
