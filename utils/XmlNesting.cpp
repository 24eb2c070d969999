#include "utils/XmlNesting.h"

#include <cstring>
#include <string>
#include <vector>

namespace orbilib
{
namespace utils
{
namespace
{
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool EndsName(char c)
{
    return IsSpace(c) || c == '/' || c == '>' || c == '=' || c == '<' || c == '"' || c == '\'';
}

class Scanner
{
public:
    Scanner(const char* text, std::size_t size) : m_text(text), m_size(size) {}

    bool At(std::size_t i, const char* literal) const
    {
        const std::size_t n = std::strlen(literal);
        return i + n <= m_size && std::memcmp(m_text + i, literal, n) == 0;
    }
    // The position just after the next occurrence of literal from i, or npos.
    std::size_t After(std::size_t i, const char* literal) const
    {
        const std::size_t n = std::strlen(literal);
        for (; i + n <= m_size; ++i)
            if (std::memcmp(m_text + i, literal, n) == 0)
                return i + n;
        return std::string::npos;
    }
    std::size_t SkipSpace(std::size_t i) const
    {
        while (i < m_size && IsSpace(m_text[i]))
            ++i;
        return i;
    }
    std::size_t NameEnd(std::size_t i) const
    {
        while (i < m_size && !EndsName(m_text[i]))
            ++i;
        return i;
    }
    char At(std::size_t i) const { return i < m_size ? m_text[i] : '\0'; }

    const char* m_text;
    std::size_t m_size;
};
} // namespace

bool xmlNestingWithin(const char* text, std::size_t size, int maxDepth)
{
    const Scanner scan(text, size);
    const std::size_t npos = std::string::npos;
    std::vector<std::string> open;
    std::size_t i = 0;
    while (i < size)
    {
        if (text[i] != '<')
        {
            ++i;
            continue;
        }
        if (scan.At(i, "<!--"))
            i = scan.After(i + 4, "-->");
        else if (scan.At(i, "<![CDATA["))
            i = scan.After(i + 9, "]]>");
        else if (scan.At(i, "<?"))
        {
            // Parsers differ on whether a quoted ">" ends a declaration: refuse one.
            const std::size_t end = scan.After(i + 2, "?>");
            if (end == npos || std::memchr(text + i + 2, '>', end - 1 - (i + 2)))
                return false;
            i = end;
        }
        else if (scan.At(i, "<!"))
        {
            // A document type declaration, without an internal subset.
            const std::size_t end = scan.After(i + 2, ">");
            if (end == npos || std::memchr(text + i + 2, '[', end - (i + 2)))
                return false;
            i = end;
        }
        else if (scan.At(i, "</"))
        {
            const std::size_t nameEnd = scan.NameEnd(i + 2);
            const std::size_t close = scan.SkipSpace(nameEnd);
            if (open.empty() || scan.At(close) != '>' ||
                open.back().compare(0, npos, text + i + 2, nameEnd - (i + 2)) != 0)
                return false;
            open.pop_back();
            i = close + 1;
        }
        else
        {
            const std::size_t nameEnd = scan.NameEnd(i + 1);
            if (nameEnd == i + 1)
                return false;
            std::size_t j = nameEnd;
            bool empty = false;
            for (;;)
            {
                j = scan.SkipSpace(j);
                if (scan.At(j) == '>')
                    break;
                if (scan.At(j, "/>"))
                {
                    empty = true;
                    ++j;
                    break;
                }
                const std::size_t attributeEnd = scan.NameEnd(j);
                if (attributeEnd == j)
                    return false;
                j = scan.SkipSpace(attributeEnd);
                if (scan.At(j) != '=')
                    return false;
                j = scan.SkipSpace(j + 1);
                const char quote = scan.At(j);
                if (quote != '"' && quote != '\'')
                    return false;
                const void* end = std::memchr(text + j + 1, quote, size - (j + 1));
                if (!end)
                    return false;
                j = static_cast<std::size_t>(static_cast<const char*>(end) - text) + 1;
            }
            if (!empty)
            {
                if (static_cast<int>(open.size()) >= maxDepth)
                    return false;
                open.emplace_back(text + i + 1, nameEnd - (i + 1));
            }
            i = j + 1;
        }
        if (i == npos)
            return false;
    }
    return true;
}

} // namespace utils
} // namespace orbilib
