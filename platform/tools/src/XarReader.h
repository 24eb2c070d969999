#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace PlatformTools
{

// Reads xar archives as Apple's xar, libarchive and productbuild write them: the header,
// the zlib-compressed XML table of contents with its checksum at the start of the heap, and
// members stored plain or zlib/gzip-compressed, each checked against its checksums.
class CXarReader
{
public:
    struct Entry
    {
        enum Type
        {
            File,
            Directory,
            Symlink,
            Hardlink,
            Fifo,
            Other // devices, sockets and types we do not know
        };
        std::string sPath; // as stored, joined with "/"
        std::string sId;
        Type type = File;
        std::string sTypeName;
        int mode = -1; // -1 when the archive gives none
        std::time_t mtime = 0;
        bool bHasData = false;
        std::uint64_t offset = 0;
        std::uint64_t length = 0; // archived bytes
        std::uint64_t size = 0;   // extracted bytes
        std::string sEncoding;
        std::string sArchivedStyle, sArchivedChecksum;
        std::string sExtractedStyle, sExtractedChecksum;
        std::string sLinkTarget;  // symbolic link target, or the path of a hard link's file
        std::size_t original = 0; // a hard link's file: its index in entries()
    };

    // Throws CToolError when the file is not a readable, intact xar archive.
    explicit CXarReader(const std::string& sPath);
    ~CXarReader();
    CXarReader(const CXarReader&) = delete;
    CXarReader& operator=(const CXarReader&) = delete;

    const std::vector<Entry>& entries() const { return m_lEntries; }
    const std::string& tocChecksumStyle() const { return m_sTocStyle; }
    // The table of contents as stored (compressed) and as text, for signature checks.
    const std::string& compressedToc() const { return m_sCompressedToc; }
    const std::string& tocXml() const { return m_sTocXml; }
    // Bytes at a heap offset; throws CToolError when they lie beyond the end of the archive.
    std::string readHeap(std::uint64_t offset, std::size_t size) const;

    // Streams a member's extracted bytes to the sink, then verifies size and checksums;
    // throws CToolError on any mismatch (the sink may already have received data).
    void readData(const Entry& entry,
                  const std::function<void(const char*, std::size_t)>& sink) const;
    std::string readAll(const Entry& entry) const;

private:
    void readExactly(std::uint64_t offset, void* pBuffer, std::size_t size) const;

    std::string m_sPath;
    int m_iFd;
    std::uint64_t m_fileSize;
    std::uint64_t m_heapStart;
    std::string m_sTocStyle;
    std::string m_sCompressedToc, m_sTocXml;
    std::vector<Entry> m_lEntries;
};

} // namespace PlatformTools
