#include "app/document/CustomizationFile.h"

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
