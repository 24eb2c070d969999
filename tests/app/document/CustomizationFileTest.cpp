#include "CustomizationFile.h"
#include "PackageSignature.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(CustomizationFileTest, WrittenValuesReadBackExactlyInTheWindowsOrder)
{
    const QList<CCustomizationFile::CEntry> walk{{"B", "second", "  spaced  \n\tlines "},
                                                 {"A", "first", "<&>\"' ü \u2028"},
                                                 {"B", "third", ""},
                                                 {"C", "fourth", "x"}};
    const QList<CCustomizationFile::CEntry> ordered = CCustomizationFile::ordered(walk);
    QStringList widgets;
    for (const auto& entry : ordered)
        widgets << entry.m_sWidget;
    // Equal names: the one met last comes first, as the window has always written.
    EXPECT_EQ(QStringList({"first", "third", "second", "fourth"}), widgets);

    const QByteArray text = CCustomizationFile::text(QFileInfo("/missing/Installer.pkg"),
                                                     QFileInfo("/out/Published.pkg"), ordered);
    EXPECT_TRUE(text.startsWith(
        "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>\n<AdminCustomization "
        "version=\"1.0\" source=\"/missing/Installer.pkg\" lastSaveFile=\"/out/Published.pkg\""))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\n        <property name=\"B\" widget=\"third\" />\n"));
    EXPECT_TRUE(CCustomizationFile::isCustomization(text));

    CCustomizationFile::CContents contents;
    QString error;
    ASSERT_TRUE(CCustomizationFile::read(text, contents, error)) << error.toStdString();
    EXPECT_EQ("/missing/Installer.pkg", contents.m_sSource);
    EXPECT_EQ("/out/Published.pkg", contents.m_sLastSaveFile);
    ASSERT_EQ(ordered.size(), contents.m_lEntries.size());
    for (int i = 0; i < ordered.size(); ++i)
    {
        EXPECT_EQ(ordered.at(i).m_sProperty, contents.m_lEntries.at(i).m_sProperty);
        EXPECT_EQ(ordered.at(i).m_sWidget, contents.m_lEntries.at(i).m_sWidget);
        EXPECT_EQ(ordered.at(i).m_sValue.toStdString(),
                  contents.m_lEntries.at(i).m_sValue.toStdString());
    }
}

TEST(CustomizationFileTest, ValueAttributesWinAndWhatIsNoCustomizationIsRefused)
{
    CCustomizationFile::CContents contents;
    QString error;
    ASSERT_TRUE(CCustomizationFile::read(
        "<AdminCustomization><properties><property name=\"A\" widget=\"a\" value=\"attr\">text"
        "</property><other name=\"B\"/><property name=\"C\" widget=\"c\"/></properties>"
        "</AdminCustomization>",
        contents, error));
    ASSERT_EQ(2, contents.m_lEntries.size());
    EXPECT_EQ("attr", contents.m_lEntries.at(0).m_sValue);
    EXPECT_EQ("", contents.m_lEntries.at(1).m_sValue);
    EXPECT_TRUE(contents.m_sSource.isEmpty());

    for (const QByteArray& bad :
         {QByteArray("<AdminConfig version=\"1.8\"/>"), QByteArray("<AdminCustomization>"),
          QByteArray(""), QByteArray("\x01\x02 binary")})
    {
        EXPECT_FALSE(CCustomizationFile::read(bad, contents, error)) << bad.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(CCustomizationFile::isCustomization("<AdminConfig version=\"1.8\"/>"));
}

TEST(PackageSignatureTest, ReportsOfEveryKindAreRead)
{
    EXPECT_EQ(CPackageSignature::Unsigned,
              CPackageSignature::parse("Package \"a.pkg\":\n   Status: no signature\n").m_state);
    const CPackageSignature invalid = CPackageSignature::parse(
        "Package \"a.pkg\":\n   Status: invalid signature: the checksum does not match\n");
    EXPECT_EQ(CPackageSignature::Invalid, invalid.m_state);
    EXPECT_EQ("the checksum does not match", invalid.m_sProblem);
    EXPECT_EQ(CPackageSignature::Damaged,
              CPackageSignature::parse("   Status: damaged archive: short header\n").m_state);
    EXPECT_EQ(CPackageSignature::Unknown, CPackageSignature::parse("").m_state);
    const CPackageSignature chain = CPackageSignature::parse(
        "   Status: signed by a certificate that has since expired\n"
        "   Signature: RSA with sha1\n   Certificate Chain:\n"
        "    1. Signer\n       Issued by: Middle CA\n       Valid from: A\n       Expires: B\n"
        "       SHA256 Fingerprint:\n           19 42\n       ----\n"
        "    2. Middle CA\n       Issued by: Root\n");
    EXPECT_EQ(CPackageSignature::Verified, chain.m_state);
    ASSERT_EQ(2, chain.m_lChain.size());
    EXPECT_EQ("Signer", chain.m_lChain.at(0).m_sName);
    EXPECT_EQ("Middle CA", chain.m_lChain.at(0).m_sIssuer);
    EXPECT_EQ("B", chain.m_lChain.at(0).m_sExpires);
    EXPECT_EQ("Root", chain.m_lChain.at(1).m_sIssuer);
}
