#pragma once

#include <cstdint>
#include <string>

namespace PlatformTools
{

// A disk image as hdiutil sees it: a UDIF image (found through its 512-byte "koly" trailer and
// the XML property list it points at) or an ISO 9660 image.
class CDiskImage
{
public:
    enum Kind
    {
        Udif,
        Iso9660
    };

    // Throws CToolError when the file is not an image this tool can read.
    explicit CDiskImage(const std::string& sPath);

    Kind kind() const { return m_kind; }
    const std::string& format() const { return m_sFormat; }
    bool hasLicenseAgreement() const { return m_bLicense; }
    bool isCompressed() const { return m_bCompressed; }
    bool isPartitioned() const { return m_bPartitioned; }
    // What the image's block tables say its partitions hold, in bytes.
    std::uint64_t declaredBytes() const { return m_totalBytes; }
    // The most that attaching may write: a multiple of the image's size, within fixed bounds,
    // so that a small image cannot fill the disk.
    std::uint64_t expansionLimit() const;

    // `hdiutil imageinfo -plist` output.
    std::string infoPlist() const;
    // `hdiutil imageinfo` output without -plist.
    std::string infoText() const;

    // Makes the image's files appear in an existing empty directory: ISO 9660 through
    // libarchive, UDIF through 7-Zip (7zz): first the image's partitions, then each
    // partition's file system, opened exactly once so that archives on it stay as they are.
    // One file system fills the directory; several each get a subdirectory named after their
    // partition. Refuses (CToolError) before writing when the image declares more than
    // expansionLimit(), and stops any step that writes more.
    void extractTo(const std::string& sDirectory) const;

private:
    void readUdif(int fd);
    void extractUdif(const std::string& sDirectory) const;

    std::string m_sPath;
    Kind m_kind = Udif;
    std::string m_sFormat;
    std::string m_sDescription;
    bool m_bLicense = false;
    bool m_bCompressed = false;
    bool m_bChecksummed = false;
    bool m_bPartitioned = false;
    std::uint64_t m_fileSize = 0;
    std::uint64_t m_totalBytes = 0;
};

} // namespace PlatformTools
