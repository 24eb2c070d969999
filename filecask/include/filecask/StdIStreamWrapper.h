#pragma once

#include <filecask/Encoder.h>
#include <filecask/IStreamWrapper.h>
#include <filecask/filecask_export.h>

#include <boost/shared_ptr.hpp>
#include <fstream>

#include <memory>

namespace Preference
{

// Reads record-file items from a standard input stream.
class FILECASK_EXPORT StdIStreamWrapper : public IStreamWrapper, public Encoder
{
public:
    // On a stream the wrapper does not own.
    explicit StdIStreamWrapper(std::istream& stream);
    // On a stream the wrapper shares.
    explicit StdIStreamWrapper(const boost::shared_ptr<std::istream>& stream);
    // On a file stream, closed and deleted with the wrapper when owned.
    StdIStreamWrapper(std::ifstream* stream, bool owned);
    ~StdIStreamWrapper() override;
    StdIStreamWrapper(const StdIStreamWrapper&) = delete;
    StdIStreamWrapper& operator=(const StdIStreamWrapper&) = delete;

    bool Read(unsigned int& value) override;
    // Reads a length and that many bytes. Memory grows with the bytes actually
    // read, so a damaged length cannot make it reserve more than the file holds.
    bool Read(std::string& value) override;
    std::istream* GetStream() const override;

private:
    std::istream* m_pStream;
    boost::shared_ptr<std::istream> m_pShared;
    std::ifstream* m_pOwnedFile;
};

} // namespace Preference
