#pragma once

#include <string>
#include <sys/types.h>

namespace PlatformTools
{

// What hdiutil attached where: one record file per mount point in a private state directory
// ($XDG_RUNTIME_DIR/tessary-hdiutil, else /tmp/tessary-hdiutil-UID), named after the digest of
// the mount point's real path. detach removes only what has a record.
class CAttachRegistry
{
public:
    struct Record
    {
        std::string sMountPoint; // real path
        std::string sImage;
        bool bCreatedMountPoint = false;
        dev_t device = 0;
        ino_t inode = 0;
    };

    CAttachRegistry();

    // Throws CToolError when a record for the mount point exists already or cannot be written.
    void add(const Record& record);
    // False when the mount point (a real path) has no record.
    bool find(const std::string& sMountPoint, Record& record) const;
    void remove(const std::string& sMountPoint);

    const std::string& directory() const { return m_sDirectory; }

private:
    std::string recordPath(const std::string& sMountPoint) const;

    std::string m_sDirectory;
};

} // namespace PlatformTools
