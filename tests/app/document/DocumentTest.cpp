#include "app/document/Document.h"
#include "app/document/Migration.h"
#include "app/document/Publisher.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>

namespace
{
const QByteArray kDefinition = R"(<?xml version="1.0"?>
<AdminConfig name="Root" version="1.8" title="Sample">
  <pageholder>
    <page name="One" title="First">
      <lineedit name="Host" property="HOST" default="h.example" package="mac"/>
      <lineedit name="Host" property="HOST" default="linux.example" package="linux"/>
      <lineedit name="Token" property="TOKEN" mask="&gt;NNNN"/>
      <numberedit name="Port" property="PORT" default="8443"/>
      <spinbox name="Days" property="DAYS" minimum="1" maximum="365" default="30"/>
      <spinbox name="Empty" property="LOW" minimum="5" maximum="9"/>
      <combobox name="When" property="WHEN" default="weekly">
        <entry title="Daily" value="daily"/>
        <entry title="Weekly" value="weekly"/>
        <entry title="Hourly" value="hourly" versionmin="9.0"/>
      </combobox>
      <checkbox name="Tls" property="TLS" checkvalue="yes" uncheckvalue="no" default="yes"/>
      <checkbox name="Win" property="WIN" default="1" os="windows"/>
      <checkbox name="Debug" property="DEBUG" default="1" showflag="debug"/>
      <checkbox name="Notes" property="$AI_NOTES" checkvalue="x" allowempty="true"/>
      <buttongroup name="Mode" property="MODE" default="other">
        <radiobutton name="A" value="a"/>
        <radiobutton name="B" value="b"/>
      </buttongroup>
      <bitmask name="Areas" property="AREAS" default="3">
        <checkbox name="Apps" checkvalue="1"/>
        <checkbox name="Homes" checkvalue="2"/>
        <checkbox name="Net" checkvalue="4"/>
      </bitmask>
      <textedit name="Notice" property="NOTICE" title="Line one"/>
      <label name="Plain" title="no property"/>
    </page>
  </pageholder>
</AdminConfig>)";

QString valueOf(CDocument& document, const QString& property)
{
    const QList<CDocumentProperty*> found = document.findProperty(property);
    return found.isEmpty() ? QStringLiteral("<none>") : found.first()->m_sValue;
}
} // namespace

TEST(DocumentTest, FiltersAndFieldRulesGiveTheFieldsValues)
{
    CDocument mac(QStringLiteral("mac"));
    QString error;
    ASSERT_TRUE(mac.load(kDefinition, error)) << error.toStdString();
    ASSERT_EQ(1, mac.pages().size());
    EXPECT_EQ(QStringLiteral("First"), mac.pages().first().m_sTitle);
    EXPECT_EQ(1, mac.findProperty("HOST").size());
    EXPECT_EQ("h.example", valueOf(mac, "HOST"));
    EXPECT_EQ("<none>", valueOf(mac, "WIN"));
    EXPECT_EQ("<none>", valueOf(mac, "DEBUG"));
    EXPECT_EQ("<none>", valueOf(mac, "Plain"));
    EXPECT_EQ("8443", valueOf(mac, "PORT"));
    EXPECT_EQ("30", valueOf(mac, "DAYS"));
    EXPECT_EQ("5", valueOf(mac, "LOW"));
    EXPECT_EQ("weekly", valueOf(mac, "WHEN"));
    EXPECT_EQ(QStringList({"daily", "weekly"}), mac.findProperty("WHEN").first()->m_lChoices);
    EXPECT_EQ("yes", valueOf(mac, "TLS"));
    EXPECT_EQ("other", valueOf(mac, "MODE"));
    EXPECT_EQ("3", valueOf(mac, "AREAS"));
    EXPECT_EQ("Line one", valueOf(mac, "NOTICE"));

    CDocument linux(QStringLiteral("linux"), {QStringLiteral("debug")});
    ASSERT_TRUE(linux.load(kDefinition, error));
    EXPECT_EQ(1, linux.findProperty("HOST").size());
    EXPECT_EQ("linux.example", valueOf(linux, "HOST"));
    EXPECT_EQ("1", valueOf(linux, "DEBUG"));

    // Values a field cannot take: kept, brought within range, or filtered.
    CDocumentProperty* days = mac.findProperty("DAYS").first();
    EXPECT_FALSE(days->setValue("500"));
    EXPECT_EQ("365", days->m_sValue);
    EXPECT_FALSE(days->setValue("soon"));
    EXPECT_EQ("365", days->m_sValue);
    QString reason;
    EXPECT_FALSE(days->accepts("0", &reason));
    EXPECT_TRUE(reason.contains("1 to 365")) << reason.toStdString();
    CDocumentProperty* when = mac.findProperty("WHEN").first();
    EXPECT_FALSE(when->setValue("hourly"));
    EXPECT_EQ("weekly", when->m_sValue);
    CDocumentProperty* tls = mac.findProperty("TLS").first();
    EXPECT_TRUE(tls->setValue("no"));
    EXPECT_FALSE(tls->setValue("maybe"));
    EXPECT_EQ("no", tls->m_sValue);
    CDocumentProperty* areas = mac.findProperty("AREAS").first();
    EXPECT_FALSE(areas->setValue("13"));
    EXPECT_EQ("5", areas->m_sValue);
    EXPECT_FALSE(areas->accepts("8"));
    CDocumentProperty* token = mac.findProperty("TOKEN").first();
    EXPECT_FALSE(token->setValue("a-b1c9z"));
    EXPECT_EQ("AB1C", token->m_sValue);
    EXPECT_FALSE(mac.findProperty("PORT").first()->accepts("12a"));
    CDocumentProperty* notice = mac.findProperty("NOTICE").first();
    notice->setValue(QStringLiteral("a\r\nb\rc\u2029d"));
    EXPECT_EQ("a\nb\nc\nd", notice->m_sValue);

    // Only set values (or those allowed to be empty) are published; the file
    // lists every property by name.
    CDocument fresh(QStringLiteral("mac"));
    ASSERT_TRUE(fresh.load(kDefinition, error));
    const QList<CCustomizationFile::CEntry> all = fresh.entries(false);
    const QList<CCustomizationFile::CEntry> set = fresh.entries(true);
    EXPECT_EQ("$AI_NOTES", all.first().m_sProperty);
    EXPECT_EQ("$AI_NOTES", set.first().m_sProperty);
    EXPECT_TRUE(std::none_of(set.begin(), set.end(),
                             [](const CCustomizationFile::CEntry& entry)
                             { return entry.m_sProperty == "TOKEN"; }));
    EXPECT_EQ(all.size(), set.size() + 1);
    const CPropertyText::Properties published = CPublisher::publishedProperties(set);
    EXPECT_EQ("AREAS", published.first().first);
    EXPECT_TRUE(std::none_of(published.begin(), published.end(),
                             [](const QPair<QString, QString>& property)
                             { return property.first.startsWith('$'); }));
}

TEST(DocumentTest, DefinitionsTheWindowRefusesAreRefused)
{
    const QList<QPair<QByteArray, QString>> cases{
        {"<AdminConfig name=\"R\"/>", "version"},
        {"<AdminConfig version=\"1.8\" versionmin=\"9.0\"/>", "version of Tessary"},
        {"<AdminConfig version=\"1.8\"><lineedit name=\"a\" property=\"A\" allowempty=\"maybe\"/>"
         "</AdminConfig>",
         "allowempty"},
        {"<AdminConfig version=\"1.8\"><spinbox name=\"s\" property=\"S\" minimum=\"1\"/>"
         "</AdminConfig>",
         "maximum"},
        {"<AdminConfig version=\"1.8\"><combobox name=\"c\" property=\"C\"><entry title=\"x\"/>"
         "</combobox></AdminConfig>",
         "value"},
        {"<AdminConfig version=\"1.8\">" + QByteArray(200, '<').replace("<", "<a>") +
             "</AdminConfig>",
         "line"},
        {QByteArray(300, 'x').prepend("<a>") + "</a", "XML error"}};
    for (const auto& bad : cases)
    {
        CDocument document;
        QString error;
        EXPECT_FALSE(document.load(bad.first, error)) << bad.first.left(80).toStdString();
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(document.properties().isEmpty());
    }
    QByteArray deep = "<AdminConfig version=\"1.8\">";
    for (int i = 0; i < 200; ++i)
        deep += "<container>";
    for (int i = 0; i < 200; ++i)
        deep += "</container>";
    deep += "</AdminConfig>";
    CDocument document;
    QString error;
    EXPECT_FALSE(document.load(deep, error));
    EXPECT_TRUE(error.contains("128")) << error.toStdString();
}

TEST(DocumentTest, PublishingRulesForBundlesAndOutputs)
{
    const QString root = QString::fromStdString(TestSupport::testDirectory());
    const QList<CCustomizationFile::CEntry> set{{"$PKG_Tool", "Omit", "Contents/tool.sh"},
                                                {"NAME", "Name", "value"}};
    EXPECT_EQ(QStringList({"Scripts/AdminConfig.xml", "Contents/tool.sh"}),
              CPublisher::ignoreList(true, root + "/In.pkg", set));
    EXPECT_EQ(QStringList({root + "/In.pkg/Contents/Resources/AdminConfig.xml",
                           root + "/In.pkg/Contents/tool.sh"}),
              CPublisher::ignoreList(false, root + "/In.pkg", set));
    EXPECT_EQ("out.pkg", CPublisher::outputPath("out", QFileInfo("a.PKG")));
    EXPECT_EQ("out.PKG.pkg", CPublisher::outputPath("out.PKG", QFileInfo("a.pkg")));
    EXPECT_EQ("out.mpkg", CPublisher::outputPath("out", QFileInfo("a.mpkg")));
    EXPECT_EQ("out.package", CPublisher::outputPath("out", QFileInfo("a.package")));

    // A bundle below a file cannot get its resources; nothing is claimed written.
    QFile blocker(root + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString failed;
    EXPECT_EQ(CPublisher::BundleDirectoryFailed,
              CPublisher::writeBundleFiles(QDir(root + "/blocker/B.pkg"), "x", &failed));
    EXPECT_EQ(root + "/blocker/B.pkg/Contents/Resources", failed);
    EXPECT_EQ(CPublisher::BundleWritten,
              CPublisher::writeBundleFiles(QDir(root + "/B.pkg"), "export A='1'\n", &failed));
    QFile properties(root + "/B.pkg/Contents/Resources/properties");
    ASSERT_TRUE(properties.open(QIODevice::ReadOnly));
    EXPECT_EQ("export A='1'\n", properties.readAll());

    // The new output replaces the old one; should it fail to move in, the old stays.
    QDir().mkpath(root + "/staging/New.pkg");
    QDir().mkpath(root + "/Out.pkg/old");
    EXPECT_EQ(CPublisher::Replaced,
              CPublisher::replaceOutput(root + "/staging/New.pkg", root + "/Out.pkg",
                                        root + "/staging/previous"));
    EXPECT_FALSE(QFileInfo::exists(root + "/Out.pkg/old"));
    EXPECT_EQ(CPublisher::NewOutputFailed,
              CPublisher::replaceOutput(root + "/staging/Missing.pkg", root + "/Out.pkg",
                                        root + "/staging/previous2"));
    EXPECT_TRUE(QFileInfo(root + "/Out.pkg").isDir());
}

// A secret left out of a saved customization is marked, not stored; reading the
// file back leaves it missing (whatever the element holds) until it is given, and
// carrying the file to another release keeps the mark.
TEST(DocumentTest, SecretsLeftOutOfAFileStayMissingUntilGiven)
{
    CDocument document(QStringLiteral("mac"));
    QString error;
    ASSERT_TRUE(document.load(kDefinition, error)) << error.toStdString();
    ASSERT_TRUE(document.findProperty("TOKEN").first()->isSecret());
    EXPECT_FALSE(document.findProperty("HOST").first()->isSecret());
    document.findProperty("TOKEN").first()->setValue("ab12");
    document.findProperty("HOST").first()->setValue("kept.example");

    const QByteArray saved =
        CCustomizationFile::text(QFileInfo(), QFileInfo(), document.entries(false, false));
    EXPECT_FALSE(saved.contains("AB12")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<property name=\"TOKEN\" widget=\"Token\" omitted=\"secret\" />"))
        << saved.toStdString();
    // Stored when asked for, and always handed to a publish.
    EXPECT_TRUE(CCustomizationFile::text(QFileInfo(), QFileInfo(), document.entries(false))
                    .contains("AB12"));

    // A hand-edited mark with text still stands for a missing value.
    QByteArray edited = saved;
    edited.replace("omitted=\"secret\" />", "omitted=\"secret\">ZZ99</property>");
    CCustomizationFile::CContents contents;
    ASSERT_TRUE(CCustomizationFile::read(edited, contents, error)) << error.toStdString();
    CDocument reopened(QStringLiteral("mac"));
    ASSERT_TRUE(reopened.load(kDefinition, error));
    reopened.apply(contents.m_lEntries);
    EXPECT_EQ("", valueOf(reopened, "TOKEN"));
    EXPECT_EQ("kept.example", valueOf(reopened, "HOST"));
    ASSERT_EQ(1, reopened.missingSecrets().size());
    EXPECT_EQ("TOKEN", reopened.missingSecrets().first()->m_sProperty);
    // Saved again, even with secrets stored, the missing one keeps its mark.
    EXPECT_TRUE(CCustomizationFile::text(QFileInfo(), QFileInfo(), reopened.entries(false))
                    .contains("omitted=\"secret\""));

    CDocument next(QStringLiteral("mac"));
    ASSERT_TRUE(next.load(kDefinition, error));
    CMigration::migrate(contents, &reopened, next);
    EXPECT_EQ(1, next.missingSecrets().size());
    EXPECT_EQ("kept.example", valueOf(next, "HOST"));

    reopened.findProperty("TOKEN").first()->setValue("CD34");
    EXPECT_TRUE(reopened.missingSecrets().isEmpty());

    // A stored secret carried forward is reported as set, not by its value.
    CCustomizationFile::CContents holding;
    ASSERT_TRUE(CCustomizationFile::read(
        CCustomizationFile::text(QFileInfo(), QFileInfo(), reopened.entries(false)), holding,
        error));
    CDocument later(QStringLiteral("mac"));
    ASSERT_TRUE(later.load(kDefinition, error));
    for (const CMigration::CItem& item : CMigration::migrate(holding, &reopened, later))
    {
        if (item.m_sProperty == QLatin1String("TOKEN"))
        {
            EXPECT_EQ("TOKEN: kept set", CMigration::describe(item));
            EXPECT_EQ("set", CMigration::shownValue(item, item.m_sNewValue));
        }
    }
    EXPECT_EQ("CD34", valueOf(later, "TOKEN"));
}
