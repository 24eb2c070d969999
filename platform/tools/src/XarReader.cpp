#include "XarReader.h"

#include "Digest.h"
#include "RegularFile.h"
#include "ToolError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>
#include <zlib.h>

namespace PlatformTools
{
namespace
{
const std::uint64_t kMaxTocSize = 64u * 1024 * 1024;

std::uint64_t bigEndian(const unsigned char* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

const TiXmlElement* child(const TiXmlElement* parent, const char* name)
{
    return parent ? parent->FirstChildElement(name) : nullptr;
}

// The element's text exactly as stored (the table of contents is parsed with white space
// kept), decoded when it carries enctype="base64" as other writers use for names that are not
// plain text.
std::string exactText(const TiXmlElement* element)
{
    if (!element)
        return std::string();
    const char* value = element->GetText();
    const std::string sValue = value ? value : "";
    const char* enctype = element->Attribute("enctype");
    if (!enctype || std::strcmp(enctype, "base64") != 0)
        return sValue;
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string decoded;
    unsigned bits = 0;
    int count = 0;
    for (const char c : sValue)
    {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (c == '=')
            break;
        const std::size_t digit = kAlphabet.find(c);
        if (digit == std::string::npos)
            throw CToolError("damaged table of contents: bad base64 text \"" + sValue + "\"");
        bits = (bits << 6) | static_cast<unsigned>(digit);
        count += 6;
        if (count >= 8)
        {
            count -= 8;
            decoded.push_back(static_cast<char>((bits >> count) & 0xff));
        }
    }
    return decoded;
}

// Values such as numbers and types, without surrounding white space.
std::string text(const TiXmlElement* element)
{
    const std::string sValue = exactText(element);
    const std::size_t first = sValue.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return sValue.substr(first, sValue.find_last_not_of(" \t\r\n") - first + 1);
}

std::uint64_t number(const TiXmlElement* element, const std::string& sWhat)
{
    const std::string sText = text(element);
    if (sText.empty() || sText.find_first_not_of("0123456789") != std::string::npos ||
        sText.size() > 19)
        throw CToolError("damaged table of contents: bad " + sWhat + " \"" + sText + "\"");
    return std::stoull(sText);
}

std::time_t parseTime(const std::string& sText)
{
    struct tm parts = {};
    if (!strptime(sText.c_str(), "%Y-%m-%dT%H:%M:%S", &parts))
        return 0;
    return timegm(&parts);
}

std::string lowerHex(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string inflateAll(const std::string& input, std::uint64_t limit)
{
    z_stream stream = {};
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        throw CToolError("cannot start decompression");
    std::string output;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    char buffer[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END)
    {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END)
        {
            inflateEnd(&stream);
            throw CToolError("damaged table of contents: cannot decompress it");
        }
        output.append(buffer, sizeof buffer - stream.avail_out);
        if (output.size() > limit)
        {
            inflateEnd(&stream);
            throw CToolError("damaged table of contents: larger than declared");
        }
        if (rc == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)
        {
            inflateEnd(&stream);
            throw CToolError("damaged table of contents: truncated");
        }
    }
    inflateEnd(&stream);
    return output;
}

// Strict UTF-8: TinyXML trusts lead bytes and steps past the end of the text after a
// truncated sequence.
bool isUtf8(const std::string& sText)
{
    const auto* p = reinterpret_cast<const unsigned char*>(sText.data());
    const std::size_t size = sText.size();
    for (std::size_t i = 0; i < size;)
    {
        const unsigned char lead = p[i];
        std::size_t length = 1;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
        {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        else
            return false;
        if (length > size - i)
            return false;
        for (std::size_t k = 1; k < length; ++k)
        {
            const unsigned char next = p[i + k];
            if (k == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

// True when the declaration at pos ends at its first '>', however TinyXML reads it:
// only name="value" pairs whose values hold no markup characters.
bool plainDeclaration(const std::string& sText, std::size_t pos)
{
    const std::size_t size = sText.size();
    std::size_t i = pos + 5;
    auto skipSpace = [&]
    {
        while (i < size && std::isspace(static_cast<unsigned char>(sText[i])))
            ++i;
    };
    while (true)
    {
        skipSpace();
        if (sText.compare(i, 2, "?>") == 0)
            return true;
        const std::size_t name = i;
        while (i < size && (std::isalnum(static_cast<unsigned char>(sText[i])) ||
                            std::strchr("_:.-", sText[i]) != nullptr))
            ++i;
        if (i == name)
            return false;
        skipSpace();
        if (i >= size || sText[i] != '=')
            return false;
        ++i;
        skipSpace();
        if (i >= size || (sText[i] != '"' && sText[i] != '\''))
            return false;
        const std::size_t close = sText.find(sText[i], i + 1);
        if (close == std::string::npos || sText.find_first_of("<>", i + 1) < close)
            return false;
        i = close + 1;
    }
}

// TinyXML parses and frees elements recursively, so a table of contents nested deeply
// enough would exhaust the stack. Returns an upper bound of the element nesting TinyXML
// builds, reading the markup as TinyXML does (comments, CDATA, quoted attribute values,
// other "<!" and "<?" up to the first '>'); a declaration anywhere but at the start, or one
// whose end TinyXML could read elsewhere, gives SIZE_MAX.
std::size_t elementDepth(const std::string& sText)
{
    const std::size_t size = sText.size();
    std::size_t depth = 0, deepest = 0;
    auto skipPast = [&](std::size_t from, const char* terminator)
    {
        const std::size_t end = sText.find(terminator, from);
        return end == std::string::npos ? size : end + std::strlen(terminator);
    };
    const std::size_t start =
        sText.find_first_not_of(" \t\r\n\v\f", sText.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
    std::size_t i = 0;
    while (i < size)
    {
        if (sText[i] != '<')
        {
            ++i;
            continue;
        }
        std::string sHead = sText.substr(i, 5);
        std::transform(sHead.begin(), sHead.end(), sHead.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (sHead == "<?xml")
        {
            if (i != start || !plainDeclaration(sText, i))
                return SIZE_MAX;
            i = skipPast(i, ">");
        }
        else if (sText.compare(i, 4, "<!--") == 0)
            i = skipPast(i + 4, "-->");
        else if (sText.compare(i, 9, "<![CDATA[") == 0)
            i = skipPast(i + 9, "]]>");
        else if (sText.compare(i, 2, "<!") == 0 || sText.compare(i, 2, "<?") == 0)
            i = skipPast(i + 2, ">");
        else if (sText.compare(i, 2, "</") == 0)
        {
            if (depth > 0)
                --depth;
            i = skipPast(i + 2, ">");
        }
        else
        {
            // A start tag: quotes count only where an attribute value starts.
            std::size_t j = i + 1;
            char lastSignificant = 0;
            while (j < size && sText[j] != '>')
            {
                const char c = sText[j];
                if ((c == '"' || c == '\'') && lastSignificant == '=')
                {
                    const std::size_t close = sText.find(c, j + 1);
                    j = close == std::string::npos ? size : close + 1;
                    lastSignificant = c;
                    continue;
                }
                if (!std::isspace(static_cast<unsigned char>(c)))
                    lastSignificant = c;
                ++j;
            }
            if (lastSignificant != '/')
                deepest = std::max(deepest, ++depth);
            i = j + 1;
        }
    }
    return deepest;
}

struct SWalkContext
{
    std::vector<CXarReader::Entry>* pEntries;
    std::map<std::string, std::size_t> indexById;
    std::vector<std::pair<std::size_t, std::string>> pendingHardlinks;
};

void readChecksum(const TiXmlElement* element, std::string& sStyle, std::string& sValue)
{
    if (!element)
        return;
    const char* style = element->Attribute("style");
    sStyle = style ? lowerHex(style) : "";
    sValue = lowerHex(text(element));
}

void walkFiles(const TiXmlElement* parent, const std::string& sPrefix, SWalkContext& context,
               int depth)
{
    if (depth > 256)
        throw CToolError("damaged table of contents: directories nested too deeply");
    for (const TiXmlElement* file = parent->FirstChildElement("file"); file;
         file = file->NextSiblingElement("file"))
    {
        CXarReader::Entry entry;
        // productbuild repeats <name>; the first one is the name. Names are kept byte for
        // byte: spaces at either end, runs of them and tabs are part of them.
        const std::string sName = exactText(child(file, "name"));
        if (sName.empty())
            throw CToolError("damaged table of contents: a member has no name");
        if (sName.find('\0') != std::string::npos)
            throw CToolError("damaged table of contents: a member name holds a NUL byte");
        entry.sPath = sPrefix.empty() ? sName : sPrefix + "/" + sName;
        const char* id = file->Attribute("id");
        entry.sId = id ? id : "";
        const TiXmlElement* type = child(file, "type");
        entry.sTypeName = text(type);
        if (entry.sTypeName.empty() || entry.sTypeName == "file")
            entry.type = CXarReader::Entry::File;
        else if (entry.sTypeName == "directory")
            entry.type = CXarReader::Entry::Directory;
        else if (entry.sTypeName == "symlink")
            entry.type = CXarReader::Entry::Symlink;
        else if (entry.sTypeName == "fifo")
            entry.type = CXarReader::Entry::Fifo;
        else if (entry.sTypeName == "hardlink")
        {
            const char* link = type->Attribute("link");
            if (link && std::strcmp(link, "original") == 0)
                entry.type = CXarReader::Entry::File;
            else
            {
                entry.type = CXarReader::Entry::Hardlink;
                context.pendingHardlinks.emplace_back(context.pEntries->size(), link ? link : "");
            }
        }
        else
            entry.type = CXarReader::Entry::Other;
        const std::string sMode = text(child(file, "mode"));
        if (!sMode.empty())
        {
            if (sMode.find_first_not_of("01234567") != std::string::npos || sMode.size() > 7)
                throw CToolError("damaged table of contents: bad mode \"" + sMode + "\"");
            entry.mode = static_cast<int>(std::stoul(sMode, nullptr, 8));
        }
        entry.mtime = parseTime(text(child(file, "mtime")));
        if (entry.type == CXarReader::Entry::Symlink)
            entry.sLinkTarget = exactText(child(file, "link"));
        if (const TiXmlElement* data = child(file, "data"))
        {
            entry.bHasData = true;
            entry.offset = number(child(data, "offset"), "offset");
            entry.length = number(child(data, "length"), "length");
            entry.size = number(child(data, "size"), "size");
            const TiXmlElement* encoding = child(data, "encoding");
            const char* style = encoding ? encoding->Attribute("style") : nullptr;
            entry.sEncoding = style ? style : "application/octet-stream";
            readChecksum(child(data, "archived-checksum"), entry.sArchivedStyle,
                         entry.sArchivedChecksum);
            readChecksum(child(data, "extracted-checksum"), entry.sExtractedStyle,
                         entry.sExtractedChecksum);
        }
        if (!entry.sId.empty())
            context.indexById[entry.sId] = context.pEntries->size();
        const std::string sPath = entry.sPath;
        context.pEntries->push_back(entry);
        walkFiles(file, sPath, context, depth + 1);
    }
}

class CInflater
{
public:
    CInflater()
    {
        if (inflateInit2(&m_stream, 15 + 32) != Z_OK)
            throw CToolError("cannot start decompression");
    }
    ~CInflater() { inflateEnd(&m_stream); }
    CInflater(const CInflater&) = delete;
    CInflater& operator=(const CInflater&) = delete;
    z_stream& stream() { return m_stream; }

private:
    z_stream m_stream = {};
};
} // namespace

CXarReader::CXarReader(const std::string& sPath) : m_sPath(sPath), m_iFd(-1), m_fileSize(0)
{
    m_iFd = CRegularFile::open(sPath);
    try
    {
        struct stat st;
        if (::fstat(m_iFd, &st) != 0 || !S_ISREG(st.st_mode))
            throw CToolError(sPath + " is not a file");
        m_fileSize = static_cast<std::uint64_t>(st.st_size);
        unsigned char header[28];
        if (m_fileSize < sizeof header)
            throw CToolError(sPath + " is not a xar archive (too short)");
        readExactly(0, header, sizeof header);
        if (std::memcmp(header, "xar!", 4) != 0)
            throw CToolError(sPath + " is not a xar archive");
        const std::uint64_t headerSize = bigEndian(header + 4, 2);
        const std::uint64_t tocCompressed = bigEndian(header + 8, 8);
        const std::uint64_t tocSize = bigEndian(header + 16, 8);
        const unsigned int algorithm = static_cast<unsigned int>(bigEndian(header + 24, 4));
        if (headerSize < 28 || headerSize > m_fileSize)
            throw CToolError(sPath + ": damaged xar header");
        m_sTocStyle = CDigest::styleForHeaderValue(algorithm);
        // Another xar fork writes 3 ("other") followed by the algorithm's name.
        if (algorithm == 3 && headerSize > 28)
        {
            std::string sName(headerSize - 28, '\0');
            readExactly(28, sName.data(), sName.size());
            sName = lowerHex(sName.c_str());
            if (!sName.empty())
                m_sTocStyle = sName;
        }
        if (m_sTocStyle.empty())
            throw CToolError(sPath + ": unknown checksum algorithm " + std::to_string(algorithm));
        if (tocCompressed == 0 || tocCompressed > m_fileSize - headerSize || tocSize > kMaxTocSize)
            throw CToolError(sPath + ": damaged xar header (table of contents size)");
        m_heapStart = headerSize + tocCompressed;
        std::string compressed(tocCompressed, '\0');
        readExactly(headerSize, compressed.data(), compressed.size());
        const std::string xml = inflateAll(compressed, kMaxTocSize);
        if (!isUtf8(xml))
            throw CToolError(sPath + ": damaged table of contents: it is not UTF-8 text");
        // Real tables of contents nest a few levels per directory level (at most 256).
        const std::size_t depth = elementDepth(xml);
        if (depth == SIZE_MAX)
            throw CToolError(sPath + ": damaged table of contents: misplaced XML declaration");
        if (depth > 1024)
            throw CToolError(sPath + ": damaged table of contents: elements nested too deeply");

        TiXmlDocument document;
        // White space in names is significant; TinyXML would otherwise condense it.
        const bool bCondensed = TiXmlBase::IsWhiteSpaceCondensed();
        TiXmlBase::SetCondenseWhiteSpace(false);
        document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
        TiXmlBase::SetCondenseWhiteSpace(bCondensed);
        if (document.Error())
            throw CToolError(sPath + ": damaged table of contents: " + document.ErrorDesc());
        m_sCompressedToc = compressed;
        m_sTocXml = xml;
        const TiXmlElement* root = document.RootElement();
        const TiXmlElement* toc =
            root && std::string(root->Value()) == "xar" ? root->FirstChildElement("toc") : nullptr;
        if (!toc)
            throw CToolError(sPath + ": damaged table of contents: no <toc>");

        if (m_sTocStyle != "none")
        {
            const TiXmlElement* checksum = toc->FirstChildElement("checksum");
            if (!checksum)
                throw CToolError(sPath + ": the table of contents has no checksum");
            CDigest digest(m_sTocStyle);
            const std::uint64_t offset = number(child(checksum, "offset"), "checksum offset");
            const std::uint64_t size = number(child(checksum, "size"), "checksum size");
            if (size != digest.size() || offset > m_fileSize || m_heapStart > m_fileSize - offset ||
                size > m_fileSize - m_heapStart - offset)
                throw CToolError(sPath + ": the table-of-contents checksum is missing (truncated "
                                         "archive?)");
            std::vector<unsigned char> stored(size);
            readExactly(m_heapStart + offset, stored.data(), stored.size());
            digest.update(compressed.data(), compressed.size());
            if (digest.finish() != stored)
                throw CToolError(sPath + ": the table of contents does not match its checksum");
        }

        SWalkContext context;
        context.pEntries = &m_lEntries;
        walkFiles(toc, std::string(), context, 0);
        for (const auto& pending : context.pendingHardlinks)
        {
            // The original may come before or after the link.
            auto found = context.indexById.find(pending.second);
            if (found == context.indexById.end())
                throw CToolError(sPath + ": the hard link " + m_lEntries[pending.first].sPath +
                                 " refers to a missing member");
            m_lEntries[pending.first].sLinkTarget = m_lEntries[found->second].sPath;
            m_lEntries[pending.first].original = found->second;
        }
    }
    catch (...)
    {
        ::close(m_iFd);
        throw;
    }
}

CXarReader::~CXarReader()
{
    ::close(m_iFd);
}

void CXarReader::readExactly(std::uint64_t offset, void* pBuffer, std::size_t size) const
{
    char* p = static_cast<char*>(pBuffer);
    while (size > 0)
    {
        const ssize_t n = ::pread(m_iFd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw CToolError::fromErrno("cannot read " + m_sPath);
        if (n == 0)
            throw CToolError(m_sPath + ": unexpected end of file (truncated archive?)");
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

std::string CXarReader::readHeap(std::uint64_t offset, std::size_t size) const
{
    if (offset > m_fileSize || m_heapStart > m_fileSize - offset ||
        size > m_fileSize - m_heapStart - offset)
        throw CToolError(m_sPath + ": heap range lies beyond the end of the archive (truncated?)");
    std::string data(size, '\0');
    readExactly(m_heapStart + offset, data.data(), size);
    return data;
}

void CXarReader::readData(const Entry& entry,
                          const std::function<void(const char*, std::size_t)>& sink) const
{
    if (!entry.bHasData)
        return;
    if (entry.offset > m_fileSize || m_heapStart > m_fileSize - entry.offset ||
        entry.length > m_fileSize - m_heapStart - entry.offset)
        throw CToolError(entry.sPath + ": data lies beyond the end of the archive (truncated?)");
    const bool bCompressed = entry.sEncoding == "application/x-gzip";
    if (!bCompressed && entry.sEncoding != "application/octet-stream")
        throw CToolError(entry.sPath + ": unsupported encoding " + entry.sEncoding);
    std::unique_ptr<CDigest> archived, extracted;
    if (!entry.sArchivedStyle.empty())
        archived = std::make_unique<CDigest>(entry.sArchivedStyle);
    if (!entry.sExtractedStyle.empty())
        extracted = std::make_unique<CDigest>(entry.sExtractedStyle);

    std::uint64_t produced = 0;
    auto deliver = [&](const char* p, std::size_t n)
    {
        produced += n;
        if (produced > entry.size)
            throw CToolError(entry.sPath + ": more data than declared");
        if (extracted)
            extracted->update(p, n);
        sink(p, n);
    };
    std::unique_ptr<CInflater> inflater;
    if (bCompressed)
        inflater = std::make_unique<CInflater>();
    bool bEnded = false;
    std::vector<char> in(65536), out(65536);
    std::uint64_t remaining = entry.length;
    std::uint64_t position = m_heapStart + entry.offset;
    while (remaining > 0)
    {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, in.size()));
        readExactly(position, in.data(), n);
        position += n;
        remaining -= n;
        if (archived)
            archived->update(in.data(), n);
        if (!inflater)
        {
            deliver(in.data(), n);
            continue;
        }
        z_stream& stream = inflater->stream();
        stream.next_in = reinterpret_cast<Bytef*>(in.data());
        stream.avail_in = static_cast<uInt>(n);
        while (stream.avail_in > 0 && !bEnded)
        {
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&stream, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                throw CToolError(entry.sPath + ": compressed data is damaged");
            deliver(out.data(), out.size() - stream.avail_out);
            if (rc == Z_STREAM_END)
                bEnded = true;
            if (rc == Z_BUF_ERROR && stream.avail_out == out.size())
                break;
        }
    }
    if (inflater && !bEnded)
    {
        // Flush what the decompressor still holds.
        z_stream& stream = inflater->stream();
        for (;;)
        {
            stream.next_in = nullptr;
            stream.avail_in = 0;
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&stream, Z_FINISH);
            deliver(out.data(), out.size() - stream.avail_out);
            if (rc == Z_STREAM_END)
            {
                bEnded = true;
                break;
            }
            if (stream.avail_out != 0)
                break;
        }
        if (!bEnded)
            throw CToolError(entry.sPath + ": compressed data is truncated");
    }
    if (archived && CDigest::toHex(archived->finish()) != entry.sArchivedChecksum)
        throw CToolError(entry.sPath + ": archived data does not match its checksum");
    if (extracted && CDigest::toHex(extracted->finish()) != entry.sExtractedChecksum)
        throw CToolError(entry.sPath + ": extracted data does not match its checksum");
    if (produced != entry.size)
        throw CToolError(entry.sPath + ": " + std::to_string(produced) + " bytes instead of " +
                         std::to_string(entry.size));
}

std::string CXarReader::readAll(const Entry& entry) const
{
    std::string data;
    readData(entry, [&](const char* p, std::size_t n) { data.append(p, n); });
    return data;
}

} // namespace PlatformTools
