#pragma once

#include <filecask/filecask_export.h>

#include <istream>
#include <string>

namespace Preference
{

// Reads the numbers and byte strings of a record file.
class FILECASK_EXPORT IStreamWrapper
{
public:
    virtual ~IStreamWrapper();
    virtual bool Read(unsigned int& value) = 0;
    virtual bool Read(std::string& value) = 0;
    // The underlying stream; null when there is none.
    virtual std::istream* GetStream() const = 0;
};

} // namespace Preference
