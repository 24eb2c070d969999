#include <filecask/StreamStore.h>

#include "detail/StreamStore_pimpl.h"

#include <algorithm>

namespace Preference
{
namespace
{
const char kFormatVersion[] = "1.0.0.0";
// Records are appended as they are read instead of reserving the count a file
// claims, so a damaged count cannot reserve more than a small start.
const unsigned int kInitialReserve = 64;
} // namespace

StreamStore::StreamStore() : m_pImpl(new detail::StreamStore_pimpl) {}

StreamStore::~StreamStore() = default;

bool StreamStore::Load()
{
    std::vector<std::string>& records = m_pImpl->m_lRecords;
    records.clear();
    boost::shared_ptr<IStreamWrapper> input = GetIStream();
    if (!input)
        return false;
    std::string version;
    if (!input->Read(version) || version != kFormatVersion)
        return false;
    unsigned int count = 0;
    if (!input->Read(count))
        return false;
    records.reserve(std::min(count, kInitialReserve));
    for (unsigned int i = 0; i < count; ++i)
    {
        std::string record;
        if (!input->Read(record))
            return false;
        records.push_back(std::move(record));
    }
    return true;
}

bool StreamStore::Save()
{
    boost::shared_ptr<OStreamWrapper> output = GetOStream();
    if (!output || !WriteRecords(*output))
        return false;
    // Buffered bytes may only fail on their way to the file: a full disk must
    // not be reported as a successful save.
    std::ostream* stream = output->GetStream();
    if (stream && !stream->flush())
        return false;
    return true;
}

bool StreamStore::WriteRecords(OStreamWrapper& output) const
{
    const std::vector<std::string>& records = m_pImpl->m_lRecords;
    if (!output.Write(std::string(kFormatVersion)) ||
        !output.Write(static_cast<unsigned int>(records.size())))
        return false;
    for (const std::string& record : records)
        if (!output.Write(record))
            return false;
    return true;
}

unsigned int StreamStore::GetCount() const
{
    return static_cast<unsigned int>(m_pImpl->m_lRecords.size());
}

std::string StreamStore::GetData(unsigned int index) const
{
    const std::vector<std::string>& records = m_pImpl->m_lRecords;
    return index < records.size() ? records[index] : std::string();
}

void StreamStore::SetData(unsigned int index, const std::string& data)
{
    std::vector<std::string>& records = m_pImpl->m_lRecords;
    if (index >= records.size())
        records.resize(static_cast<std::size_t>(index) + 1);
    records[index] = data;
}

} // namespace Preference
