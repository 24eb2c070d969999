#include "XarWriter.h"

#include <utils/SourceDate.h>

#include "Digest.h"
#include "SafeTarget.h"
#include "ToolError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>
#include <zlib.h>

namespace PlatformTools
{

struct CXarWriter::Node
{
    enum Kind
    {
        Directory,
        File,
        Symlink
    };
    Kind kind = Directory;
    mode_t mode = 0755;
    std::time_t mtime = 0;
    bool bCompress = true;
    // A file with more names than this one: stored once, the other names link to it.
    bool bLinked = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string sDiskPath;
    std::string sLinkTarget;
    std::map<std::string, std::unique_ptr<Node>> children; // sorted for stable archives
};

namespace
{
std::string formatTime(std::time_t t)
{
    struct tm parts;
    gmtime_r(&t, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buffer;
}

std::string octalMode(mode_t mode)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04o", static_cast<unsigned int>(mode & 07777));
    return buffer;
}

// Whether a name must be stored base64-encoded: bytes that are not UTF-8, or control
// characters that XML cannot carry (tabs and line ends go as character references).
bool needsBase64(const std::string& sName)
{
    std::size_t i = 0;
    while (i < sName.size())
    {
        const unsigned char c = static_cast<unsigned char>(sName[i]);
        if (c < 0x80)
        {
            // A carriage return would come back as a line feed from XML's end-of-line rule.
            if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f)
                return true;
            ++i;
            continue;
        }
        const int extra = c >= 0xc2 && c <= 0xdf   ? 1
                          : c >= 0xe0 && c <= 0xef ? 2
                          : c >= 0xf0 && c <= 0xf4 ? 3
                                                   : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= sName.size())
            return true;
        const unsigned char next = static_cast<unsigned char>(sName[i + 1]);
        // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
        if ((c == 0xe0 && next < 0xa0) || (c == 0xed && next >= 0xa0) ||
            (c == 0xf0 && next < 0x90) || (c == 0xf4 && next >= 0x90))
            return true;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(sName[i + static_cast<std::size_t>(k)]) & 0xc0) != 0x80)
                return true;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return false;
}

std::string base64(const std::string& sData)
{
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string sOut;
    std::size_t i = 0;
    for (; i + 2 < sData.size(); i += 3)
    {
        const unsigned v = static_cast<unsigned char>(sData[i]) << 16 |
                           static_cast<unsigned char>(sData[i + 1]) << 8 |
                           static_cast<unsigned char>(sData[i + 2]);
        sOut += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63],
                 kAlphabet[v & 63]};
    }
    if (i + 1 == sData.size())
    {
        const unsigned v = static_cast<unsigned char>(sData[i]) << 16;
        sOut += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
    }
    else if (i + 2 == sData.size())
    {
        const unsigned v = static_cast<unsigned char>(sData[i]) << 16 |
                           static_cast<unsigned char>(sData[i + 1]) << 8;
        sOut += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
    }
    return sOut;
}

void addName(TiXmlElement* parent, const std::string& sName)
{
    TiXmlElement element("name");
    if (needsBase64(sName))
    {
        element.SetAttribute("enctype", "base64");
        element.InsertEndChild(TiXmlText(base64(sName)));
    }
    else
        element.InsertEndChild(TiXmlText(sName));
    parent->InsertEndChild(element);
}

void addText(TiXmlElement* parent, const char* name, const std::string& value)
{
    TiXmlElement element(name);
    element.InsertEndChild(TiXmlText(value));
    parent->InsertEndChild(element);
}

void writeAll(int fd, const void* pData, std::size_t size, const std::string& sWhat)
{
    const char* p = static_cast<const char*>(pData);
    while (size > 0)
    {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw CToolError::fromErrno("cannot write " + sWhat);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

class CHeap
{
public:
    CHeap() : m_pFile(std::tmpfile()), m_size(0)
    {
        if (!m_pFile)
            throw CToolError::fromErrno("cannot create a temporary file");
    }
    ~CHeap() { std::fclose(m_pFile); }
    CHeap(const CHeap&) = delete;
    CHeap& operator=(const CHeap&) = delete;
    void append(const void* p, std::size_t n)
    {
        if (n && std::fwrite(p, 1, n, m_pFile) != n)
            throw CToolError::fromErrno("cannot write the temporary heap");
        m_size += n;
    }
    std::uint64_t size() const { return m_size; }
    void copyTo(int fd, const std::string& sWhat)
    {
        if (std::fflush(m_pFile) != 0 || std::fseek(m_pFile, 0, SEEK_SET) != 0)
            throw CToolError::fromErrno("cannot read the temporary heap");
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_pFile)) > 0)
            writeAll(fd, buffer, n, sWhat);
        if (std::ferror(m_pFile))
            throw CToolError::fromErrno("cannot read the temporary heap");
    }

private:
    std::FILE* m_pFile;
    std::uint64_t m_size;
};

struct SWriteContext
{
    CHeap heap;
    unsigned long nextId = 1;
    // The member id under which each hard-linked file was stored first.
    std::map<std::pair<dev_t, ino_t>, unsigned long> linkedIds;
};

void storeFile(const CXarWriter::Node& node, TiXmlElement* file, SWriteContext& context);

void writeNode(const std::string& sName, const CXarWriter::Node& node, TiXmlElement* parent,
               SWriteContext& context)
{
    TiXmlElement file("file");
    const unsigned long id = context.nextId++;
    file.SetAttribute("id", std::to_string(id));
    // As Apple's xar: the first name of a hard-linked file holds the data as the
    // "original", the others name its id.
    std::string sLinkedTo;
    if (node.kind == CXarWriter::Node::File && node.bLinked)
    {
        const auto inserted =
            context.linkedIds.emplace(std::make_pair(node.device, node.inode), id);
        sLinkedTo = inserted.second ? "original" : std::to_string(inserted.first->second);
    }
    if (node.kind == CXarWriter::Node::File && (sLinkedTo.empty() || sLinkedTo == "original"))
        storeFile(node, &file, context);
    // With a source date, nothing later than it is recorded: files written just now
    // give the same archive on every run.
    addText(&file, "mtime", formatTime(orbilib::utils::clampedToSourceDate(node.mtime)));
    addText(&file, "mode", octalMode(node.mode));
    if (node.kind == CXarWriter::Node::Symlink)
    {
        TiXmlElement link("link");
        link.SetAttribute("type", "file");
        link.InsertEndChild(TiXmlText(node.sLinkTarget));
        file.InsertEndChild(link);
    }
    const char* type = node.kind == CXarWriter::Node::Directory ? "directory"
                       : !sLinkedTo.empty()                     ? "hardlink"
                       : node.kind == CXarWriter::Node::File    ? "file"
                                                                : "symlink";
    TiXmlElement typeElement("type");
    if (!sLinkedTo.empty())
        typeElement.SetAttribute("link", sLinkedTo);
    typeElement.InsertEndChild(TiXmlText(type));
    file.InsertEndChild(typeElement);
    addName(&file, sName);
    for (const auto& childNode : node.children)
        writeNode(childNode.first, *childNode.second, &file, context);
    parent->InsertEndChild(file);
}

void storeFile(const CXarWriter::Node& node, TiXmlElement* file, SWriteContext& context)
{
    const int fd = ::open(node.sDiskPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        throw CToolError::fromErrno("cannot open " + node.sDiskPath);
    const std::uint64_t offset = context.heap.size();
    CDigest archived("sha1"), extracted("sha1");
    std::uint64_t size = 0;
    z_stream stream = {};
    if (node.bCompress && deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK)
    {
        ::close(fd);
        throw CToolError("cannot start compression");
    }
    std::vector<char> in(65536), out(65536);
    try
    {
        for (;;)
        {
            const ssize_t n = ::read(fd, in.data(), in.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw CToolError::fromErrno("cannot read " + node.sDiskPath);
            size += static_cast<std::uint64_t>(n);
            extracted.update(in.data(), static_cast<std::size_t>(n));
            if (!node.bCompress)
            {
                if (n == 0)
                    break;
                archived.update(in.data(), static_cast<std::size_t>(n));
                context.heap.append(in.data(), static_cast<std::size_t>(n));
                continue;
            }
            stream.next_in = reinterpret_cast<Bytef*>(in.data());
            stream.avail_in = static_cast<uInt>(n);
            const int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
            int rc;
            do
            {
                stream.next_out = reinterpret_cast<Bytef*>(out.data());
                stream.avail_out = static_cast<uInt>(out.size());
                rc = deflate(&stream, flush);
                const std::size_t produced = out.size() - stream.avail_out;
                archived.update(out.data(), produced);
                context.heap.append(out.data(), produced);
            } while (stream.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
            if (n == 0)
                break;
        }
    }
    catch (...)
    {
        if (node.bCompress)
            deflateEnd(&stream);
        ::close(fd);
        throw;
    }
    if (node.bCompress)
        deflateEnd(&stream);
    ::close(fd);

    TiXmlElement data("data");
    addText(&data, "length", std::to_string(context.heap.size() - offset));
    addText(&data, "offset", std::to_string(offset));
    addText(&data, "size", std::to_string(size));
    TiXmlElement encoding("encoding");
    encoding.SetAttribute("style",
                          node.bCompress ? "application/x-gzip" : "application/octet-stream");
    data.InsertEndChild(encoding);
    TiXmlElement archivedSum("archived-checksum");
    archivedSum.SetAttribute("style", "sha1");
    archivedSum.InsertEndChild(TiXmlText(CDigest::toHex(archived.finish())));
    data.InsertEndChild(archivedSum);
    TiXmlElement extractedSum("extracted-checksum");
    extractedSum.SetAttribute("style", "sha1");
    extractedSum.InsertEndChild(TiXmlText(CDigest::toHex(extracted.finish())));
    data.InsertEndChild(extractedSum);
    file->InsertEndChild(data);
}

void putBigEndian(unsigned char* p, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
    {
        p[i] = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
}
} // namespace

CXarWriter::CXarWriter() : m_pRoot(std::make_unique<Node>()) {}

CXarWriter::~CXarWriter() = default;

void CXarWriter::setSigner(std::shared_ptr<const CXarTocSigner> pSigner)
{
    m_pSigner = std::move(pSigner);
}

void CXarWriter::setCompressionRule(std::function<bool(const std::string&)> rule)
{
    m_fnCompress = std::move(rule);
}

CXarWriter::Node& CXarWriter::nodeFor(const std::string& sMember)
{
    const std::string sNormal = CSafeTarget::normalizeMemberName(sMember);
    if (sNormal.empty())
        throw CToolError("empty member name");
    Node* current = m_pRoot.get();
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t slash = sNormal.find('/', start);
        const std::string sPart = sNormal.substr(start, slash - start);
        if (current->kind != Node::Directory)
            throw CToolError("cannot add " + sNormal + ": a parent is not a directory");
        std::unique_ptr<Node>& next = current->children[sPart];
        if (!next)
        {
            next = std::make_unique<Node>();
            next->mtime = orbilib::utils::recordedNow();
        }
        current = next.get();
        if (slash == std::string::npos)
            return *current;
        start = slash + 1;
    }
}

void CXarWriter::addDirectory(const std::string& sMember, mode_t mode, std::time_t mtime)
{
    Node& node = nodeFor(sMember);
    if (node.kind != Node::Directory)
        throw CToolError("duplicate member " + sMember);
    node.mode = mode & 07777;
    node.mtime = mtime;
}

void CXarWriter::addFile(const std::string& sMember, const std::string& sDiskPath, bool bCompress)
{
    struct stat st;
    if (::stat(sDiskPath.c_str(), &st) != 0)
        throw CToolError::fromErrno("cannot add " + sDiskPath);
    if (!S_ISREG(st.st_mode))
        throw CToolError("cannot add " + sDiskPath + ": not a regular file");
    Node& node = nodeFor(sMember);
    if (node.kind != Node::Directory || !node.children.empty())
        throw CToolError("duplicate member " + sMember);
    node.kind = Node::File;
    node.mode = st.st_mode & 07777;
    node.mtime = st.st_mtime;
    node.sDiskPath = sDiskPath;
    node.bCompress = bCompress;
    node.bLinked = st.st_nlink > 1;
    node.device = st.st_dev;
    node.inode = st.st_ino;
}

void CXarWriter::addSymlink(const std::string& sMember, const std::string& sTarget,
                            std::time_t mtime)
{
    Node& node = nodeFor(sMember);
    if (node.kind != Node::Directory || !node.children.empty())
        throw CToolError("duplicate member " + sMember);
    node.kind = Node::Symlink;
    node.mode = 0755;
    node.mtime = mtime;
    node.sLinkTarget = sTarget;
}

void CXarWriter::addTree(const std::string& sMember, const std::string& sDiskPath)
{
    struct stat st;
    if (::lstat(sDiskPath.c_str(), &st) != 0)
        throw CToolError::fromErrno("cannot add " + sDiskPath);
    if (S_ISREG(st.st_mode))
        addFile(sMember, sDiskPath, !m_fnCompress || m_fnCompress(sMember));
    else if (S_ISLNK(st.st_mode))
    {
        std::vector<char> target(static_cast<std::size_t>(st.st_size) + 1);
        const ssize_t n = ::readlink(sDiskPath.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size())
            throw CToolError::fromErrno("cannot read the link " + sDiskPath);
        addSymlink(sMember, std::string(target.data(), static_cast<std::size_t>(n)), st.st_mtime);
    }
    else if (S_ISDIR(st.st_mode))
    {
        if (!sMember.empty())
            addDirectory(sMember, st.st_mode, st.st_mtime);
        DIR* dir = ::opendir(sDiskPath.c_str());
        if (!dir)
            throw CToolError::fromErrno("cannot list " + sDiskPath);
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        ::closedir(dir);
        for (const std::string& sName : names)
            addTree(sMember.empty() ? sName : sMember + "/" + sName, sDiskPath + "/" + sName);
    }
    else
        throw CToolError("cannot add " + sDiskPath + ": not a file, directory or link");
}

void CXarWriter::write(const std::string& sArchivePath)
{
    if (m_pRoot->children.empty())
        throw CToolError("nothing to archive");
    SWriteContext context;
    // The table-of-contents checksum takes the first 20 bytes of the heap, a signature the
    // bytes after it.
    const std::size_t signatureSize = m_pSigner ? m_pSigner->size() : 0;
    const std::vector<unsigned char> placeholder(20 + signatureSize);
    context.heap.append(placeholder.data(), placeholder.size());

    TiXmlDocument document;
    document.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", ""));
    TiXmlElement xar("xar");
    TiXmlElement toc("toc");
    addText(&toc, "creation-time", formatTime(orbilib::utils::recordedNow()));
    TiXmlElement checksum("checksum");
    checksum.SetAttribute("style", "sha1");
    addText(&checksum, "offset", "0");
    addText(&checksum, "size", "20");
    toc.InsertEndChild(checksum);
    if (m_pSigner)
        m_pSigner->describe(toc, 20);
    for (const auto& childNode : m_pRoot->children)
        writeNode(childNode.first, *childNode.second, &toc, context);
    xar.InsertEndChild(toc);
    document.InsertEndChild(xar);
    TiXmlPrinter printer;
    printer.SetIndent(" ");
    document.Accept(&printer);
    const std::string xml = printer.Str();

    uLongf compressedSize = compressBound(static_cast<uLong>(xml.size()));
    std::vector<unsigned char> compressed(compressedSize);
    if (compress2(compressed.data(), &compressedSize, reinterpret_cast<const Bytef*>(xml.data()),
                  static_cast<uLong>(xml.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw CToolError("cannot compress the table of contents");
    compressed.resize(compressedSize);
    CDigest tocDigest("sha1");
    tocDigest.update(compressed.data(), compressed.size());
    const std::vector<unsigned char> tocSum = tocDigest.finish();
    const std::vector<unsigned char> signature =
        m_pSigner ? m_pSigner->sign(tocSum, "sha1") : std::vector<unsigned char>();
    if (signature.size() != signatureSize)
        throw CToolError("the signature does not fit the space reserved for it");

    unsigned char header[28] = {'x', 'a', 'r', '!'};
    putBigEndian(header + 4, 28, 2);
    putBigEndian(header + 6, 1, 2);
    putBigEndian(header + 8, compressed.size(), 8);
    putBigEndian(header + 16, xml.size(), 8);
    putBigEndian(header + 24, 1, 4);

    std::string sTemporary = sArchivePath + ".XXXXXX";
    int fd = ::mkstemp(sTemporary.data());
    if (fd < 0)
        throw CToolError::fromErrno("cannot create " + sArchivePath);
    try
    {
        writeAll(fd, header, sizeof header, sArchivePath);
        writeAll(fd, compressed.data(), compressed.size(), sArchivePath);
        // The heap starts with the placeholder; the checksum goes over it afterwards.
        context.heap.copyTo(fd, sArchivePath);
        const off_t checksumAt = static_cast<off_t>(sizeof header + compressed.size());
        if (::pwrite(fd, tocSum.data(), tocSum.size(), checksumAt) !=
            static_cast<ssize_t>(tocSum.size()))
            throw CToolError::fromErrno("cannot write " + sArchivePath);
        if (!signature.empty() && ::pwrite(fd, signature.data(), signature.size(),
                                           checksumAt + static_cast<off_t>(tocSum.size())) !=
                                      static_cast<ssize_t>(signature.size()))
            throw CToolError::fromErrno("cannot write " + sArchivePath);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0644 & ~mask);
        const bool bSynced = ::fsync(fd) == 0;
        const bool bClosed = ::close(fd) == 0;
        fd = -1;
        if (!bSynced || !bClosed)
            throw CToolError::fromErrno("cannot write " + sArchivePath);
    }
    catch (...)
    {
        if (fd >= 0)
            ::close(fd);
        ::unlink(sTemporary.c_str());
        throw;
    }
    if (::rename(sTemporary.c_str(), sArchivePath.c_str()) != 0)
    {
        const int saved = errno;
        ::unlink(sTemporary.c_str());
        errno = saved;
        throw CToolError::fromErrno("cannot create " + sArchivePath);
    }
}

} // namespace PlatformTools
