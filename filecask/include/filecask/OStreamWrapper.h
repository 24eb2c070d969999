#pragma once

#include <filecask/filecask_export.h>

#include <ostream>
#include <string>

namespace Preference
{

// Writes the numbers and byte strings of a record file.
class FILECASK_EXPORT OStreamWrapper
{
public:
    virtual ~OStreamWrapper();
    virtual bool Write(unsigned int value) = 0;
    virtual bool Write(const std::string& value) = 0;
    // The underlying stream; null when there is none.
    virtual std::ostream* GetStream() const = 0;
};

} // namespace Preference
