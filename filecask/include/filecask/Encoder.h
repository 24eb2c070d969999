#pragma once

#include <filecask/filecask_export.h>

#include <array>

namespace Preference
{

// Turns record-file numbers into their four stored bytes and back. The stored
// form is big-endian, so files move between machines of either byte order.
class FILECASK_EXPORT Encoder
{
public:
    typedef std::array<unsigned char, 4> Bytes;

    virtual ~Encoder();
    virtual Bytes Encode(unsigned int value) const;
    virtual unsigned int Decode(const Bytes& bytes) const;
};

} // namespace Preference
