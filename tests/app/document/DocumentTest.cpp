#include "app/document/Document.h"
#include "app/document/DocumentRoot.h"
#include "app/document/Migration.h"
#include "app/document/Publisher.h"
#include "app/document/SecretProperty.h"
#include "app/packages/OutputFile.h"
#include "shared/XmlWidgets/PageHolder.h"
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
    <page name="One" title="First" layout="vertical">
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

QString valueOf(const CDocument& document, const QString& property)
{
    const QList<CXmlObject*> found = document.fieldsOf(property);
    return found.isEmpty() ? QStringLiteral("<none>") : found.first()->getValue();
}

CXmlObject* field(const CDocument& document, const QString& property)
{
    const QList<CXmlObject*> found = document.fieldsOf(property);
    return found.isEmpty() ? nullptr : found.first();
}

// Loads the definition as an installer for os would show it, with the start-up
// options given.
void load(CDocument& document, const QByteArray& definition, const QString& os = "mac",
          const QStringList& options = QStringList())
{
    document.root().setPackageOS(os);
    document.root().setOptions(options);
    QString error;
    ASSERT_TRUE(document.loadDefinition(definition, error)) << error.toStdString();
}

// Applies a customization's entries as Open does.
void apply(CDocument& document, const QList<CCustomizationFile::CEntry>& entries)
{
    document.applyEntries(entries);
    document.secrets().noteLoaded(entries, &document.root(), false);
}
} // namespace

TEST(DocumentTest, FiltersAndFieldRulesGiveTheFieldsValues)
{
    CDocument mac;
    load(mac, kDefinition);
    EXPECT_EQ(1, mac.root().pageHolder()->count());
    EXPECT_EQ(1, mac.fieldsOf("HOST").size());
    EXPECT_EQ("h.example", valueOf(mac, "HOST"));
    EXPECT_EQ("<none>", valueOf(mac, "WIN"));
    EXPECT_EQ("<none>", valueOf(mac, "DEBUG"));
    EXPECT_EQ("<none>", valueOf(mac, "Plain"));
    EXPECT_EQ("8443", valueOf(mac, "PORT"));
    EXPECT_EQ("30", valueOf(mac, "DAYS"));
    EXPECT_EQ("5", valueOf(mac, "LOW"));
    EXPECT_EQ("weekly", valueOf(mac, "WHEN"));
    EXPECT_EQ(QStringList({"daily", "weekly"}), field(mac, "WHEN")->valueRule().m_lChoices);
    EXPECT_EQ("yes", valueOf(mac, "TLS"));
    EXPECT_EQ("other", valueOf(mac, "MODE"));
    EXPECT_EQ("3", valueOf(mac, "AREAS"));
    EXPECT_EQ("Line one", valueOf(mac, "NOTICE"));

    CDocument linux;
    load(linux, kDefinition, "linux", {"debug"});
    EXPECT_EQ(1, linux.fieldsOf("HOST").size());
    EXPECT_EQ("linux.example", valueOf(linux, "HOST"));
    EXPECT_EQ("1", valueOf(linux, "DEBUG"));

    // Values offered as if typed: brought within range, taken in the mask's case,
    // or refused, and then the field keeps what it held.
    QString reason;
    CXmlObject* const days = field(mac, "DAYS");
    EXPECT_EQ(CXmlObject::ValueAdjusted, days->offerValue("500", &reason));
    EXPECT_EQ("365", days->getValue());
    EXPECT_TRUE(reason.contains("1 to 365")) << reason.toStdString();
    EXPECT_EQ(CXmlObject::ValueRefused, days->offerValue("soon"));
    EXPECT_EQ("365", days->getValue());
    CXmlObject* const when = field(mac, "WHEN");
    EXPECT_EQ(CXmlObject::ValueRefused, when->offerValue("hourly", &reason));
    EXPECT_EQ("weekly", when->getValue());
    EXPECT_TRUE(reason.contains("\"daily\", \"weekly\"")) << reason.toStdString();
    CXmlObject* const tls = field(mac, "TLS");
    EXPECT_EQ(CXmlObject::ValueTaken, tls->offerValue("no"));
    EXPECT_EQ(CXmlObject::ValueRefused, tls->offerValue("maybe"));
    EXPECT_EQ("no", tls->getValue());
    CXmlObject* const areas = field(mac, "AREAS");
    EXPECT_EQ(CXmlObject::ValueTaken, areas->offerValue("5"));
    EXPECT_EQ(CXmlObject::ValueRefused, areas->offerValue("13"));
    EXPECT_EQ("5", areas->getValue());
    CXmlObject* const token = field(mac, "TOKEN");
    EXPECT_EQ(CXmlObject::ValueAdjusted, token->offerValue("ab1c"));
    EXPECT_EQ("AB1C", token->getValue());
    EXPECT_EQ(CXmlObject::ValueRefused, token->offerValue("a-b1c9z", &reason));
    EXPECT_EQ("AB1C", token->getValue());
    EXPECT_TRUE(reason.contains(">NNNN")) << reason.toStdString();
    EXPECT_EQ(CXmlObject::ValueRefused, field(mac, "PORT")->offerValue("12a"));
    EXPECT_EQ(CXmlObject::ValueRefused, field(mac, "HOST")->offerValue("two\nlines"));
    EXPECT_EQ("h.example", valueOf(mac, "HOST"));
    CXmlObject* const notice = field(mac, "NOTICE");
    EXPECT_EQ(CXmlObject::ValueAdjusted, notice->offerValue(QStringLiteral("a\r\nb\rc\u2029d")));
    EXPECT_EQ("a\nb\nc\nd", notice->getValue());

    // Only set values (or those allowed to be empty) are published; the file
    // lists every property by name.
    CDocument fresh;
    load(fresh, kDefinition);
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

// A customization's values go through the fields' rules: what a field changes is
// noted, what it refuses is kept from publishing until the field is corrected, and
// what no field takes is reported instead of dropped in silence.
TEST(DocumentTest, ValuesOfACustomizationMeetTheFieldsRules)
{
    CDocument document;
    load(document, kDefinition);
    const QList<CDocument::CValueNote> notes = document.applyEntries({{"DAYS", "Days", "999"},
                                                                      {"PORT", "Port", "80abc"},
                                                                      {"TOKEN", "Token", "ab1c"},
                                                                      {"HOST", "Host", "a\r\nb"},
                                                                      {"GONE", "Gone", "x"},
                                                                      {"WHEN", "When", "daily"}});
    ASSERT_EQ(5, notes.size());
    EXPECT_EQ(CDocument::CValueNote::Adjusted, notes.at(0).m_kind);
    EXPECT_EQ("365", notes.at(0).m_sNewValue);
    EXPECT_EQ(CDocument::CValueNote::Refused, notes.at(1).m_kind);
    EXPECT_EQ("8443", notes.at(1).m_sNewValue);
    EXPECT_EQ(CDocument::CValueNote::Adjusted, notes.at(2).m_kind);
    EXPECT_TRUE(notes.at(2).m_bSecret);
    EXPECT_EQ(CDocument::CValueNote::Refused, notes.at(3).m_kind);
    EXPECT_EQ(CDocument::CValueNote::Unknown, notes.at(4).m_kind);
    EXPECT_EQ("daily", valueOf(document, "WHEN"));

    // Publishing names every refused value until its field has been set anew.
    QString refusal = document.publishRefusal();
    EXPECT_TRUE(refusal.contains("PORT (Port)")) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains("\"a\\r\\nb\"")) << refusal.toStdString();
    EXPECT_EQ(2, document.refusedValues().size());
    EXPECT_EQ(CXmlObject::ValueTaken, document.offerProperty("PORT", "8080"));
    EXPECT_EQ(CXmlObject::ValueTaken, document.offerProperty("HOST", "h2.example"));
    EXPECT_TRUE(document.refusedValues().isEmpty());
    EXPECT_TRUE(document.publishRefusal().isEmpty());

    // A new definition starts without any.
    document.applyEntries({{"PORT", "Port", "x"}});
    load(document, kDefinition);
    EXPECT_TRUE(document.refusedValues().isEmpty());
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
        {QByteArray(300, 'x').prepend("<a>") + "</a", "XML"}};
    for (const auto& bad : cases)
    {
        CDocument document;
        QString error;
        EXPECT_FALSE(document.loadDefinition(bad.first, error)) << bad.first.left(80).toStdString();
        EXPECT_TRUE(error.contains(bad.second, Qt::CaseInsensitive)) << error.toStdString();
        EXPECT_TRUE(document.collectProperties(false).isEmpty());
        EXPECT_TRUE(document.root().documentTitle().isEmpty());
    }
    QByteArray deep = "<AdminConfig version=\"1.8\">";
    for (int i = 0; i < 200; ++i)
        deep += "<container>";
    for (int i = 0; i < 200; ++i)
        deep += "</container>";
    deep += "</AdminConfig>";
    CDocument document;
    QString error;
    EXPECT_FALSE(document.loadDefinition(deep, error));
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
    // Without leave to replace, whatever is there (a dangling link even) stays.
    QDir().mkpath(root + "/staging/New.pkg");
    QDir().mkpath(root + "/Out.pkg/old");
    ASSERT_TRUE(QFile::link(root + "/nowhere", root + "/Dangling.pkg"));
    EXPECT_EQ(COutputFile::AlreadyExists,
              COutputFile::install(root + "/staging/New.pkg", root + "/Dangling.pkg", false,
                                   root + "/staging/previous"));
    EXPECT_TRUE(QFileInfo(root + "/Dangling.pkg").isSymLink());
    EXPECT_EQ(COutputFile::Installed,
              COutputFile::install(root + "/staging/New.pkg", root + "/Out.pkg", true,
                                   root + "/staging/previous"));
    EXPECT_FALSE(QFileInfo::exists(root + "/Out.pkg/old"));
    EXPECT_EQ(COutputFile::Failed,
              COutputFile::install(root + "/staging/Missing.pkg", root + "/Out.pkg", true,
                                   root + "/staging/previous2"));
    EXPECT_TRUE(QFileInfo(root + "/Out.pkg").isDir());
}

// A secret left out of a saved customization is marked, not stored; reading the
// file back leaves it missing (whatever the element holds) until it is given, and
// carrying the file to another release keeps the mark.
TEST(DocumentTest, SecretsLeftOutOfAFileStayMissingUntilGiven)
{
    CDocument document;
    load(document, kDefinition);
    ASSERT_TRUE(CSecretProperty::isSecret(field(document, "TOKEN")));
    EXPECT_FALSE(CSecretProperty::isSecret(field(document, "HOST")));
    EXPECT_EQ(CXmlObject::ValueAdjusted, document.offerProperty("TOKEN", "ab12"));
    document.offerProperty("HOST", "kept.example");

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
    QString error;
    ASSERT_TRUE(CCustomizationFile::read(edited, contents, error)) << error.toStdString();
    CDocument reopened;
    load(reopened, kDefinition);
    apply(reopened, contents.m_lEntries);
    EXPECT_EQ("", valueOf(reopened, "TOKEN"));
    EXPECT_EQ("kept.example", valueOf(reopened, "HOST"));
    ASSERT_EQ(1, reopened.missingSecrets().size());
    EXPECT_EQ("TOKEN", reopened.missingSecrets().first()->property());
    // Saved again, even with secrets stored, the missing one keeps its mark.
    EXPECT_TRUE(CCustomizationFile::text(QFileInfo(), QFileInfo(), reopened.entries(false))
                    .contains("omitted=\"secret\""));

    CDocument next;
    load(next, kDefinition);
    CMigration::migrate(contents, &reopened, next);
    EXPECT_EQ(1, next.missingSecrets().size());
    EXPECT_EQ("kept.example", valueOf(next, "HOST"));

    reopened.offerProperty("TOKEN", "CD34");
    EXPECT_TRUE(reopened.missingSecrets().isEmpty());

    // A stored secret carried forward is reported as set, not by its value.
    CCustomizationFile::CContents holding;
    ASSERT_TRUE(CCustomizationFile::read(
        CCustomizationFile::text(QFileInfo(), QFileInfo(), reopened.entries(false)), holding,
        error));
    CDocument later;
    load(later, kDefinition);
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
