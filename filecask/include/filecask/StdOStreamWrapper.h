#pragma once

#include <filecask/Encoder.h>
#include <filecask/OStreamWrapper.h>
#include <filecask/filecask_export.h>

#include <boost/shared_ptr.hpp>
#include <fstream>

#include <memory>

namespace Preference
{

// Writes record-file items to a standard output stream.
class FILECASK_EXPORT StdOStreamWrapper : public OStreamWrapper, public Encoder
{
public:
    // On a stream the wrapper does not own.
    explicit StdOStreamWrapper(std::ostream& stream);
    // On a stream the wrapper shares.
    explicit StdOStreamWrapper(const boost::shared_ptr<std::ostream>& stream);
    // On a file stream, closed and deleted with the wrapper when owned.
    StdOStreamWrapper(std::ofstream* stream, bool owned);
    ~StdOStreamWrapper() override;
    StdOStreamWrapper(const StdOStreamWrapper&) = delete;
    StdOStreamWrapper& operator=(const StdOStreamWrapper&) = delete;

    bool Write(unsigned int value) override;
    bool Write(const std::string& value) override;
    std::ostream* GetStream() const override;

private:
    std::ostream* m_pStream;
    boost::shared_ptr<std::ostream> m_pShared;
    std::ofstream* m_pOwnedFile;
};

} // namespace Preference
