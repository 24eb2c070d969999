#include <filecask/Encoder.h>

namespace Preference
{

Encoder::~Encoder() = default;

Encoder::Bytes Encoder::Encode(unsigned int value) const
{
    return Bytes{static_cast<unsigned char>((value >> 24) & 0xFF),
                 static_cast<unsigned char>((value >> 16) & 0xFF),
                 static_cast<unsigned char>((value >> 8) & 0xFF),
                 static_cast<unsigned char>(value & 0xFF)};
}

unsigned int Encoder::Decode(const Bytes& bytes) const
{
    return (static_cast<unsigned int>(bytes[0]) << 24) |
           (static_cast<unsigned int>(bytes[1]) << 16) |
           (static_cast<unsigned int>(bytes[2]) << 8) | static_cast<unsigned int>(bytes[3]);
}

} // namespace Preference
