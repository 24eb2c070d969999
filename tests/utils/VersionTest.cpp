#include "utils/Version.h"

#include <gtest/gtest.h>

using orbilib::utils::CVersion;
using orbilib::utils::CVersionObject;

TEST(Version, PrintsFourNumbersWithBuildLast)
{
    EXPECT_EQ(CVersion(L"1.2").toString(), L"1.2.0.0");
    EXPECT_EQ(CVersion(L"1.2.3").toString(), L"1.2.0.3");
    EXPECT_EQ(CVersion(L"1.2.3.4").toString(), L"1.2.3.4");
    EXPECT_EQ(CVersion(L"7").toString(), L"7.0.0.0");
    EXPECT_EQ(CVersion(L"1..2").toString(), L"1.2.0.0");
    EXPECT_EQ(CVersion(L".1.2.").toString(), L"1.2.0.0");
    EXPECT_EQ(CVersion(L"3b.x").toString(), L"3.0.0.0");
}

TEST(Version, RejectsEmptyAndTooLongStrings)
{
    EXPECT_TRUE(CVersion(L"").isEmpty());
    EXPECT_TRUE(CVersion(L"...").isEmpty());
    EXPECT_TRUE(CVersion(L"1.2.3.4.5").isEmpty());
    EXPECT_TRUE(CVersion().isEmpty());

    // parse keeps the old value on a bad string; setVersion empties first.
    CVersion v(L"2.0");
    v.parse(L"1.2.3.4.5");
    EXPECT_EQ(v.toString(), L"2.0.0.0");
    v = std::wstring(L"");
    EXPECT_FALSE(v.isEmpty());
    v.setVersion(L"1.2.3.4.5");
    EXPECT_TRUE(v.isEmpty());
    v.setVersion(L"");
    EXPECT_TRUE(v.isEmpty());
}

TEST(Version, NegativeNumbersAreLargest)
{
    CVersion v(L"1.-1");
    EXPECT_EQ(v.minor(), 2147483647);
    EXPECT_EQ(v.toString(), L"1.-1.0.0");
    EXPECT_TRUE(v > CVersion(L"1.5"));
}

TEST(Version, OrdersBuildBeforeRevision)
{
    EXPECT_TRUE(CVersion(L"1.2.9.1") < CVersion(L"1.2.0.2"));
    EXPECT_TRUE(CVersion(L"1.8") < CVersion(L"1.10"));
    EXPECT_FALSE(CVersion(L"1.8") < CVersion(L"1.8.0.0"));
    EXPECT_TRUE(CVersion(L"1.8") == CVersion(L"1.8.0.0"));
    EXPECT_TRUE(CVersion(L"2") > CVersion(L"1.99.99.99"));
    EXPECT_FALSE(CVersion(L"1.2") > CVersion(L"1.2"));
}

TEST(Version, EmptyAndMaximumBounds)
{
    const CVersion empty;
    EXPECT_TRUE(empty == CVersion());
    EXPECT_FALSE(empty == CVersion::versionMin);
    EXPECT_TRUE(empty < CVersion::versionMin);
    EXPECT_FALSE(CVersion::versionMin < empty);
    EXPECT_FALSE(empty < empty);

    for (const wchar_t* text : {L"0", L"1.2.3.4", L"2147483646.9.9.9", L"1.-1.-1.-1"})
    {
        EXPECT_TRUE(CVersion(text) < CVersion::versionMax) << text;
        EXPECT_FALSE(CVersion::versionMax < CVersion(text)) << text;
        EXPECT_TRUE(CVersion::versionMax > CVersion(text)) << text;
    }
    EXPECT_FALSE(CVersion::versionMax < CVersion::versionMax);
    EXPECT_EQ(CVersion::versionMax.toString(), L"-1.0.0.0");
    EXPECT_EQ(CVersion::versionMin.toString(), L"0.0.0.0");
}

namespace
{
struct OtherVersion : CVersionObject
{
    bool lessThan(const std::shared_ptr<const CVersionObject>&) const override { return true; }
    bool equalTo(const std::shared_ptr<const CVersionObject>&) const override { return true; }
};
} // namespace

TEST(Version, ObjectFormsCompareOnlyVersions)
{
    const auto other = std::make_shared<OtherVersion>();
    EXPECT_FALSE(CVersion(L"1.0").lessThan(other));
    EXPECT_FALSE(CVersion(L"1.0").equalTo(other));
    EXPECT_TRUE(CVersion().equalTo(other));

    const auto two = std::make_shared<CVersion>(L"2.0");
    EXPECT_TRUE(CVersion(L"1.0").lessThan(two));
    EXPECT_TRUE(CVersion(L"2").equalTo(two));
}
