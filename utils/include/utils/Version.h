#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orbilib
{
namespace utils
{

// Comparison interface shared by version-like values.
class CVersionObject
{
public:
    virtual ~CVersionObject() = default;
    virtual bool lessThan(const std::shared_ptr<const CVersionObject>& other) const = 0;
    virtual bool equalTo(const std::shared_ptr<const CVersionObject>& other) const = 0;
};

// A dotted version of one to four numbers ("1.8", "10.6.8", "1.2.3.4").
// Three numbers mean major.minor.build; four mean major.minor.revision.build.
class CVersion : public CVersionObject
{
public:
    static const CVersion versionMin;
    static const CVersion versionMax;

    CVersion();
    explicit CVersion(const std::wstring& version);
    CVersion(const CVersion&) = default;
    CVersion& operator=(const CVersion&) = default;

    // Parses without emptying first: an unparseable string leaves the value as it was.
    void parse(const std::wstring& version);
    CVersion& operator=(const std::wstring& version);
    // Empties the version, then parses a non-empty string.
    void setVersion(const std::wstring& version);

    bool isEmpty() const { return !m_bValid; }
    std::wstring toString() const;

    int32_t major() const { return m_nMajor; }
    int32_t minor() const { return m_nMinor; }
    int32_t revision() const { return m_nRevision; }
    int32_t build() const { return m_nBuild; }

    bool lessThan(const std::shared_ptr<const CVersionObject>& other) const override;
    bool equalTo(const std::shared_ptr<const CVersionObject>& other) const override;

    bool operator<(const CVersion& other) const;
    bool operator==(const CVersion& other) const;
    bool operator>(const CVersion& other) const;
    bool operator!=(const CVersion& other) const { return !(*this == other); }

private:
    CVersion(int32_t major, int32_t minor, int32_t revision, int32_t build);

    bool m_bValid = false;
    int32_t m_nMajor = 0;
    int32_t m_nMinor = 0;
    int32_t m_nRevision = 0;
    int32_t m_nBuild = 0;
};

} // namespace utils
} // namespace orbilib
