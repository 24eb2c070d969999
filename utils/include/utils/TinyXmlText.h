#pragma once

#include <cstddef>
#include <string>

namespace orbilib
{
namespace utils
{

// The text to hand to TinyXML's Parse for untrusted bytes. TinyXML steps over a
// UTF-8 sequence by the length its lead byte announces without looking for the
// terminating NUL, so a sequence cut off at the very end made it read past the
// buffer. Padding with NULs keeps every such step inside the copy; TinyXML still
// stops at the first NUL, so what it parses is unchanged.
inline std::string tinyXmlText(const char* data, std::size_t size)
{
    constexpr std::size_t kLongestUtf8Step = 4;
    std::string text;
    text.reserve(size + 2 * kLongestUtf8Step);
    text.assign(data, size);
    text.append(2 * kLongestUtf8Step, '\0');
    return text;
}

inline std::string tinyXmlText(const std::string& bytes)
{
    return tinyXmlText(bytes.data(), bytes.size());
}

} // namespace utils
} // namespace orbilib
