#include <filecask/StdOStreamWrapper.h>

#include <limits>

namespace Preference
{

StdOStreamWrapper::StdOStreamWrapper(std::ostream& stream)
    : m_pStream(&stream), m_pOwnedFile(nullptr)
{
}

StdOStreamWrapper::StdOStreamWrapper(const boost::shared_ptr<std::ostream>& stream)
    : m_pStream(stream.get()), m_pShared(stream), m_pOwnedFile(nullptr)
{
}

StdOStreamWrapper::StdOStreamWrapper(std::ofstream* stream, bool owned)
    : m_pStream(stream), m_pOwnedFile(owned ? stream : nullptr)
{
}

StdOStreamWrapper::~StdOStreamWrapper()
{
    if (m_pOwnedFile)
    {
        m_pOwnedFile->close();
        delete m_pOwnedFile;
    }
}

bool StdOStreamWrapper::Write(unsigned int value)
{
    if (!m_pStream)
        return false;
    const Bytes bytes = Encode(value);
    m_pStream->write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    return m_pStream->good();
}

bool StdOStreamWrapper::Write(const std::string& value)
{
    // The stored length has 32 bits; a longer string cannot be written faithfully.
    if (!m_pStream || value.size() > std::numeric_limits<unsigned int>::max())
        return false;
    if (!Write(static_cast<unsigned int>(value.size())))
        return false;
    m_pStream->write(value.data(), static_cast<std::streamsize>(value.size()));
    return m_pStream->good();
}

std::ostream* StdOStreamWrapper::GetStream() const
{
    return m_pStream;
}

} // namespace Preference
