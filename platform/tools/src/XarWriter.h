#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class TiXmlElement;

namespace PlatformTools
{

// Signs a table of contents while an archive is written: the writer reserves size() bytes in
// the heap right after the table-of-contents checksum, lets the signer describe them in the
// table of contents, and stores what sign() returns for the finished checksum there.
class CXarTocSigner
{
public:
    virtual ~CXarTocSigner() = default;
    virtual std::size_t size() const = 0;
    virtual void describe(TiXmlElement& toc, std::uint64_t heapOffset) const = 0;
    virtual std::vector<unsigned char> sign(const std::vector<unsigned char>& tocChecksum,
                                            const std::string& sChecksumStyle) const = 0;
};

// Writes xar archives in Apple's layout: a zlib-compressed table of contents whose SHA-1
// checksum sits at heap offset 0, then the members, zlib-compressed ("application/x-gzip") or
// stored as they are ("application/octet-stream"), each with SHA-1 checksums.
class CXarWriter
{
public:
    CXarWriter();
    ~CXarWriter();
    CXarWriter(const CXarWriter&) = delete;
    CXarWriter& operator=(const CXarWriter&) = delete;

    // Member paths use "/" and must be normalized; missing parent directories are added.
    void addDirectory(const std::string& sMember, mode_t mode, std::time_t mtime);
    void addFile(const std::string& sMember, const std::string& sDiskPath, bool bCompress);
    void addSymlink(const std::string& sMember, const std::string& sTarget, std::time_t mtime);
    // Decides for addTree() which files are compressed (all of them by default).
    void setCompressionRule(std::function<bool(const std::string& sMember)> rule);
    // Adds a file, directory tree or link from the disk.
    void addTree(const std::string& sMember, const std::string& sDiskPath);
    // Signs the archive that write() makes; none by default.
    void setSigner(std::shared_ptr<const CXarTocSigner> pSigner);

    // Writes the archive next to its destination and renames it into place, so a failure never
    // leaves a partial archive behind.
    void write(const std::string& sArchivePath);

    // One member waiting to be written (defined in the source).
    struct Node;

private:
    Node& nodeFor(const std::string& sMember);

    std::unique_ptr<Node> m_pRoot;
    std::function<bool(const std::string&)> m_fnCompress;
    std::shared_ptr<const CXarTocSigner> m_pSigner;
};

} // namespace PlatformTools
