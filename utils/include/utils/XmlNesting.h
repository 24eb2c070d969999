#pragma once

#include <cstddef>

namespace orbilib
{
namespace utils
{

// Whether the text is XML whose elements nest at most maxDepth deep, checked
// without recursion before a recursive parser sees it. Comments, CDATA
// sections, processing instructions and quoted attribute values are skipped
// as a parser skips them, so closing tags hidden there do not cancel levels
// really opened; markup that is not plainly well-formed (an unquoted
// attribute, a mismatched closing tag, "<" starting no known construct) is
// refused rather than guessed at.
bool xmlNestingWithin(const char* text, std::size_t size, int maxDepth);

} // namespace utils
} // namespace orbilib
