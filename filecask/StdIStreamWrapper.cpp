#include <filecask/StdIStreamWrapper.h>

#include <algorithm>

namespace Preference
{
namespace
{
// Byte strings are read in pieces of at most this size, so that memory follows
// the data really present rather than the length a file claims.
const std::size_t kChunkSize = 1 << 20;
} // namespace

StdIStreamWrapper::StdIStreamWrapper(std::istream& stream)
    : m_pStream(&stream), m_pOwnedFile(nullptr)
{
}

StdIStreamWrapper::StdIStreamWrapper(const boost::shared_ptr<std::istream>& stream)
    : m_pStream(stream.get()), m_pShared(stream), m_pOwnedFile(nullptr)
{
}

StdIStreamWrapper::StdIStreamWrapper(std::ifstream* stream, bool owned)
    : m_pStream(stream), m_pOwnedFile(owned ? stream : nullptr)
{
}

StdIStreamWrapper::~StdIStreamWrapper()
{
    if (m_pOwnedFile)
    {
        m_pOwnedFile->close();
        delete m_pOwnedFile;
    }
}

bool StdIStreamWrapper::Read(unsigned int& value)
{
    value = 0;
    if (!m_pStream)
        return false;
    char raw[4];
    m_pStream->read(raw, sizeof raw);
    if (m_pStream->fail())
        return false;
    Bytes bytes;
    std::copy(raw, raw + 4, bytes.begin());
    value = Decode(bytes);
    return true;
}

bool StdIStreamWrapper::Read(std::string& value)
{
    value.clear();
    if (!m_pStream)
        return false;
    unsigned int length = 0;
    if (!Read(length))
        return false;
    std::size_t remaining = length;
    while (remaining > 0 && !m_pStream->fail())
    {
        const std::size_t piece = std::min(remaining, kChunkSize);
        const std::size_t offset = value.size();
        value.resize(offset + piece);
        m_pStream->read(&value[offset], static_cast<std::streamsize>(piece));
        remaining -= piece;
    }
    if (m_pStream->fail())
    {
        // A string cut short is no string: leave nothing half-read behind.
        std::string().swap(value);
        return false;
    }
    return true;
}

std::istream* StdIStreamWrapper::GetStream() const
{
    return m_pStream;
}

} // namespace Preference
