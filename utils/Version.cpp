#include "utils/Version.h"

#include <limits>
#include <sstream>
#include <vector>

namespace orbilib
{
namespace utils
{
namespace
{
constexpr int32_t kNegative = std::numeric_limits<int32_t>::max();

// Leading, trailing and doubled dots add no pieces.
std::vector<std::wstring> CVersionSplitOnDot(const std::wstring& text)
{
    std::vector<std::wstring> pieces;
    std::wstring::size_type start = 0;
    while (start <= text.size())
    {
        std::wstring::size_type dot = text.find(L'.', start);
        if (dot == std::wstring::npos)
            dot = text.size();
        if (dot > start)
            pieces.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
    return pieces;
}

// Stream rules: leading digits count, anything else reads as 0. Values beyond
// 32 bits saturate, as a failed stream extraction does.
int32_t readNumber(const std::wstring& piece)
{
    std::wistringstream stream(piece);
    long long value = 0;
    stream >> value; // overflow leaves the limit in value, no digits leave 0
    if (value > std::numeric_limits<int32_t>::max())
        value = std::numeric_limits<int32_t>::max();
    if (value < 0)
        return kNegative;
    return static_cast<int32_t>(value);
}

std::wstring printNumber(int32_t value)
{
    return value == kNegative ? std::wstring(L"-1") : std::to_wstring(value);
}
} // namespace

const CVersion CVersion::versionMin(0, 0, 0, 0);
const CVersion CVersion::versionMax(kNegative, 0, 0, 0);

CVersion::CVersion() = default;

CVersion::CVersion(const std::wstring& version)
{
    parse(version);
}

CVersion::CVersion(int32_t major, int32_t minor, int32_t revision, int32_t build)
    : m_bValid(true), m_nMajor(major), m_nMinor(minor), m_nRevision(revision), m_nBuild(build)
{
}

void CVersion::parse(const std::wstring& version)
{
    const std::vector<std::wstring> pieces = CVersionSplitOnDot(version);
    if (pieces.empty() || pieces.size() > 4)
        return;
    m_nMajor = m_nMinor = m_nRevision = m_nBuild = 0;
    m_nMajor = readNumber(pieces[0]);
    if (pieces.size() >= 2)
        m_nMinor = readNumber(pieces[1]);
    if (pieces.size() == 3)
        m_nBuild = readNumber(pieces[2]);
    if (pieces.size() == 4)
    {
        m_nRevision = readNumber(pieces[2]);
        m_nBuild = readNumber(pieces[3]);
    }
    m_bValid = true;
}

CVersion& CVersion::operator=(const std::wstring& version)
{
    parse(version);
    return *this;
}

void CVersion::setVersion(const std::wstring& version)
{
    *this = CVersion();
    if (!version.empty())
        parse(version);
}

std::wstring CVersion::toString() const
{
    return printNumber(m_nMajor) + L"." + printNumber(m_nMinor) + L"." + printNumber(m_nRevision) +
           L"." + printNumber(m_nBuild);
}

bool CVersion::operator==(const CVersion& other) const
{
    if (!m_bValid || !other.m_bValid)
        return m_bValid == other.m_bValid;
    return m_nMajor == other.m_nMajor && m_nMinor == other.m_nMinor &&
           m_nRevision == other.m_nRevision && m_nBuild == other.m_nBuild;
}

bool CVersion::operator<(const CVersion& other) const
{
    if (!m_bValid && other.m_bValid)
        return true;
    if (*this == versionMax)
        return false;
    if (other == versionMax)
        return true;
    if (m_nMajor != other.m_nMajor)
        return m_nMajor < other.m_nMajor;
    if (m_nMinor != other.m_nMinor)
        return m_nMinor < other.m_nMinor;
    // The build number is the more significant of the last two.
    if (m_nBuild != other.m_nBuild)
        return m_nBuild < other.m_nBuild;
    return m_nRevision < other.m_nRevision;
}

bool CVersion::operator>(const CVersion& other) const
{
    return !(*this < other) && !(*this == other);
}

bool CVersion::lessThan(const std::shared_ptr<const CVersionObject>& other) const
{
    const auto* version = dynamic_cast<const CVersion*>(other.get());
    return version ? *this < *version : false;
}

bool CVersion::equalTo(const std::shared_ptr<const CVersionObject>& other) const
{
    const auto* version = dynamic_cast<const CVersion*>(other.get());
    return version ? *this == *version : isEmpty();
}

} // namespace utils
} // namespace orbilib
