// hdiutil: imageinfo, attach and detach for disk images. Attaching makes the image's files
// visible at the mount point by extracting them there; detaching removes exactly what was
// attached and refuses every directory that was not.
#include "platform/tools/src/AttachRegistry.h"
#include "platform/tools/src/DiskImage.h"
#include "platform/tools/src/ToolError.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace PlatformTools;
namespace fs = std::filesystem;

namespace
{
const char* const kUsage =
    "usage: hdiutil imageinfo IMAGE [-plist]\n"
    "       hdiutil attach IMAGE -mountpoint DIR [-nobrowse] [-noautoopen] [-readonly] [-quiet]\n"
    "       hdiutil detach DIR [-force] [-quiet]\n";

std::string realPath(const std::string& sPath)
{
    char resolved[PATH_MAX];
    if (!::realpath(sPath.c_str(), resolved))
        throw CToolError::fromErrno(sPath);
    return resolved;
}

void removeChildren(const std::string& sDirectory)
{
    // remove_all never follows links, so nothing outside the directory is touched.
    for (const fs::directory_entry& entry : fs::directory_iterator(sDirectory))
        fs::remove_all(entry.path());
}

int imageinfo(const std::vector<std::string>& lArgs)
{
    std::string sImage;
    bool bPlist = false;
    for (const std::string& sArg : lArgs)
    {
        if (sArg == "-plist")
            bPlist = true;
        else if (sArg[0] == '-')
            throw CToolError("unknown option " + sArg);
        else if (sImage.empty())
            sImage = sArg;
        else
            throw CToolError("only one image may be given");
    }
    if (sImage.empty())
        throw CToolError("no image given");
    const CDiskImage image(sImage);
    std::cout << (bPlist ? image.infoPlist() : image.infoText());
    return 0;
}

int attach(const std::vector<std::string>& lArgs)
{
    std::string sImage, sMountPoint;
    bool bQuiet = false;
    for (std::size_t i = 0; i < lArgs.size(); ++i)
    {
        const std::string& sArg = lArgs[i];
        if (sArg == "-mountpoint")
        {
            if (i + 1 >= lArgs.size())
                throw CToolError("-mountpoint needs a directory");
            sMountPoint = lArgs[++i];
        }
        else if (sArg == "-quiet")
            bQuiet = true;
        else if (sArg == "-nobrowse" || sArg == "-noautoopen" || sArg == "-readonly" ||
                 sArg == "-noverify" || sArg == "-noautofsck" || sArg == "-owners")
            continue;
        else if (sArg[0] == '-')
            throw CToolError("unknown option " + sArg);
        else if (sImage.empty())
            sImage = sArg;
        else
            throw CToolError("only one image may be given");
    }
    if (sImage.empty())
        throw CToolError("no image given");
    if (sMountPoint.empty())
        throw CToolError("-mountpoint DIR is required on this system");
    const CDiskImage image(sImage);

    bool bCreated = false;
    struct stat st;
    if (::stat(sMountPoint.c_str(), &st) != 0)
    {
        if (errno != ENOENT || ::mkdir(sMountPoint.c_str(), 0755) != 0)
            throw CToolError::fromErrno("cannot use the mount point " + sMountPoint);
        bCreated = true;
    }
    else if (!S_ISDIR(st.st_mode))
        throw CToolError("the mount point " + sMountPoint + " is not a directory");
    const std::string sReal = realPath(sMountPoint);
    if (!bCreated && !fs::is_empty(sReal))
        throw CToolError("the mount point " + sMountPoint + " is not empty");
    if (::lstat(sReal.c_str(), &st) != 0)
        throw CToolError::fromErrno("cannot use the mount point " + sMountPoint);

    CAttachRegistry registry;
    CAttachRegistry::Record record;
    // The mount point is empty, so a record for it is left over from a directory that was
    // emptied or removed without a detach; nothing of that attachment remains to protect.
    if (registry.find(sReal, record))
        registry.remove(sReal);
    record = CAttachRegistry::Record();
    record.sMountPoint = sReal;
    record.sImage = realPath(sImage);
    record.bCreatedMountPoint = bCreated;
    record.device = st.st_dev;
    record.inode = st.st_ino;
    try
    {
        registry.add(record);
    }
    catch (...)
    {
        if (bCreated)
            ::rmdir(sReal.c_str());
        throw;
    }
    try
    {
        image.extractTo(sReal);
    }
    catch (...)
    {
        std::error_code ignored;
        for (const fs::directory_entry& entry : fs::directory_iterator(sReal, ignored))
            fs::remove_all(entry.path(), ignored);
        if (bCreated)
            ::rmdir(sReal.c_str());
        registry.remove(sReal);
        throw;
    }
    if (!bQuiet)
        std::cout << image.format() << "\t" << sReal << '\n';
    return 0;
}

int detach(const std::vector<std::string>& lArgs)
{
    std::string sMountPoint;
    bool bQuiet = false;
    for (const std::string& sArg : lArgs)
    {
        if (sArg == "-quiet")
            bQuiet = true;
        else if (sArg == "-force")
            continue;
        else if (sArg[0] == '-')
            throw CToolError("unknown option " + sArg);
        else if (sMountPoint.empty())
            sMountPoint = sArg;
        else
            throw CToolError("only one mount point may be given");
    }
    if (sMountPoint.empty())
        throw CToolError("no mount point given");
    const std::string sReal = realPath(sMountPoint);
    CAttachRegistry registry;
    CAttachRegistry::Record record;
    if (!registry.find(sReal, record))
        throw CToolError(sMountPoint + " is not a mount point of an attached image");
    struct stat st;
    if (::lstat(sReal.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != record.device ||
        st.st_ino != record.inode)
        throw CToolError(sMountPoint + " is no longer the directory the image was attached at");
    try
    {
        removeChildren(sReal);
    }
    catch (const fs::filesystem_error& error)
    {
        throw CToolError(std::string("cannot remove the image's files: ") + error.what());
    }
    if (record.bCreatedMountPoint && ::rmdir(sReal.c_str()) != 0)
        throw CToolError::fromErrno("cannot remove the mount point " + sReal);
    registry.remove(sReal);
    if (!bQuiet)
        std::cout << "\"" << sMountPoint << "\" ejected.\n";
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string sVerb = argc > 1 ? argv[1] : "";
    const std::vector<std::string> lArgs(argv + (argc > 1 ? 2 : 1), argv + argc);
    try
    {
        for (const std::string& sArg : lArgs)
            if (sArg.empty())
                throw CToolError("empty argument");
        int rc;
        if (sVerb == "imageinfo")
            rc = imageinfo(lArgs);
        else if (sVerb == "attach")
            rc = attach(lArgs);
        else if (sVerb == "detach")
            rc = detach(lArgs);
        else
        {
            std::cerr << kUsage;
            return 1;
        }
        std::cout.flush();
        return std::cout ? rc : 1;
    }
    catch (const std::exception& error)
    {
        std::cerr << "hdiutil: " << sVerb << " failed - " << error.what() << '\n';
        return 1;
    }
}
