#pragma once

#include <filecask/IStreamWrapper.h>
#include <filecask/OStreamWrapper.h>
#include <filecask/filecask_export.h>

#include <boost/shared_ptr.hpp>

#include <memory>
#include <string>

namespace Preference
{
namespace detail
{
class StreamStore_pimpl;
}

// An ordered list of byte-string records kept in a stream. Load and Save read
// and write the whole list: the version "1.0.0.0", the record count, then each
// record, every number four bytes big-endian and every string length-prefixed.
class FILECASK_EXPORT StreamStore
{
public:
    StreamStore();
    virtual ~StreamStore();
    StreamStore(const StreamStore&) = delete;
    StreamStore& operator=(const StreamStore&) = delete;

    virtual bool Load();
    virtual bool Save();
    virtual unsigned int GetCount() const;
    // A copy of the record, empty when the index is out of range.
    virtual std::string GetData(unsigned int index) const;
    // Grows the list with empty records when the index is beyond its end.
    virtual void SetData(unsigned int index, const std::string& data);

    virtual bool TryLock(int timeoutMs) = 0;
    virtual void UnLock() = 0;
    virtual bool IsLocked() const = 0;
    virtual boost::shared_ptr<IStreamWrapper> GetIStream() = 0;
    virtual boost::shared_ptr<OStreamWrapper> GetOStream() = 0;

protected:
    // Writes the version, the count and every record; false at the first failed write.
    bool WriteRecords(OStreamWrapper& output) const;

private:
    std::unique_ptr<detail::StreamStore_pimpl> m_pImpl;
};

} // namespace Preference
