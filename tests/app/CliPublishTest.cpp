#include "AppTestSupport.h"
#include "CliRunner.h"

#include "app/document/CustomizationFile.h"
#include "app/document/Document.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/Package.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <functional>
#include <memory>
#include <sys/stat.h>

using namespace AppTest;

namespace
{
const QString kServer = QStringLiteral("console 'one' \"two\" $HOME \\ Grüße\u2028.example");
const QString kExclusions = QStringLiteral("/one path\n/two 'quoted' <&> `id`\n/三  end");
const QString kInstallDir = QStringLiteral("/Applications/It's \"here\" $PATH \\ ü");

// Every file below root (or root itself) with its mode and bytes, by relative path.
QMap<QString, QByteArray> treeOf(const QString& root)
{
    QMap<QString, QByteArray> tree;
    struct stat status;
    if (QFileInfo(root).isFile())
    {
        ::stat(QFile::encodeName(root).constData(), &status);
        tree.insert(QStringLiteral("."), QByteArray::number(status.st_mode) + ':' + bytesOf(root));
        return tree;
    }
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
    {
        const QString path = it.next();
        ::lstat(QFile::encodeName(path).constData(), &status);
        tree.insert(QDir(root).relativeFilePath(path),
                    QByteArray::number(status.st_mode) + ':' +
                        (S_ISREG(status.st_mode) ? bytesOf(path) : QByteArray()));
    }
    return tree;
}

class CliPublishTest : public AppFixture
{
protected:
    // Values typed into the window, of every kind of field.
    static void enterValues(CAdminPage& window)
    {
        window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText(kServer);
        window.findChild<QLineEdit*>(QStringLiteral("InstallDir"))->setText(kInstallDir);
        window.findChild<QPlainTextEdit*>(QStringLiteral("Exclusions"))->setPlainText(kExclusions);
        window.findChild<QSpinBox*>(QStringLiteral("CpuLimit"))->setValue(75);
        window.findChild<QComboBox*>(QStringLiteral("ScanSchedule"))->setCurrentIndex(0);
        window.findChild<QRadioButton*>(QStringLiteral("ProxyNone"))->setChecked(true);
        window.findChild<QCheckBox*>(QStringLiteral("ScanNetwork"))->setChecked(true);
        if (QCheckBox* omit = window.findChild<QCheckBox*>(QStringLiteral("OmitUninstaller")))
            omit->setChecked(true);
        window.findChild<QLineEdit*>(QStringLiteral("AdminNotes"))->setText("notes only");
    }

    // The window publishes name's installer to output; the customization is saved
    // as customization. Returns the window's output, moved aside.
    static QString publishInWindow(const QString& name, const QString& customization,
                                   const QString& output)
    {
        CModalAnswerer answers({acceptReview}, QMessageBox::Yes);
        CAdminPage window(sample(name), QStringList());
        enterValues(window);
        answers.m_lFileAnswers << customization;
        window.saveAs();
        answers.m_lFileAnswers << output;
        window.publish();
        EXPECT_TRUE(waitFor([&] { return !answers.m_lTexts.isEmpty(); }, 90000));
        EXPECT_EQ(QStringList{"Tessary successfully generated the installation package."},
                  answers.m_lTexts);
        const QString aside = output + ".window";
        EXPECT_TRUE(QFile::rename(output, aside)) << output.toStdString();
        return aside;
    }
};
} // namespace

// Each installer kind: the command line publishes, from the window's saved
// customization, what the window publishes.
TEST_F(CliPublishTest, PublishesWhatTheWindowPublishesForEveryInstallerKind)
{
    QDir().mkpath(testPath("custom"));
    QDir().mkpath(testPath("out"));
    struct CCase
    {
        QString m_sSample;
        QString m_sOutput;
        bool m_bFlat;
    };
    for (const CCase& kind : {CCase{"TessarySample.pkg", "flat.pkg", true},
                              CCase{"TessarySample.dmg", "image.pkg", true},
                              CCase{"TessarySample-bundle.pkg", "bundle.pkg", false},
                              CCase{"TessarySample.mpkg", "meta.mpkg", false},
                              CCase{"TessarySample.package", "script.package", false}})
    {
        SCOPED_TRACE(kind.m_sSample.toStdString());
        const QString customization = testPath("custom/" + kind.m_sOutput + ".xml");
        const QString output = testPath("out/" + kind.m_sOutput);
        const QString window = publishInWindow(kind.m_sSample, customization, output);

        const CCliRun published = runCli({"publish", customization, "--output", output});
        ASSERT_EQ(0, published.m_iStatus) << published.m_sErr.toStdString();
        EXPECT_TRUE(published.m_sErr.isEmpty()) << published.m_sErr.toStdString();
        EXPECT_TRUE(published.m_sOut.contains(output)) << published.m_sOut.toStdString();

        QMap<QString, QString> values;
        if (kind.m_bFlat)
        {
            // A flat package's table of contents carries the time it was written
            // and its members' times; what it holds must be the same.
            runShell("pkgutil --expand " + shellQuoted(output) + " " + shellQuoted(output + ".x"));
            runShell("pkgutil --expand " + shellQuoted(window) + " " + shellQuoted(window + ".x"));
            EXPECT_EQ(treeOf(window + ".x"), treeOf(output + ".x"));
            values = exportedBy(output + ".x/Scripts/properties");
            EXPECT_TRUE(bytesOf(output + ".x/Scripts/AdminConfigModified.xml")
                            .contains("lastSaveFile=\"" + QFile::encodeName(output) + "\""));
        }
        else
        {
            EXPECT_EQ(treeOf(window), treeOf(output));
            if (kind.m_sOutput.endsWith(".package"))
            {
                runShell(
                    "sed -n '/^## BEGIN KORVA CUSTOMIZATION/,/^## END KORVA CUSTOMIZATION/p' " +
                    shellQuoted(output) + " > " + shellQuoted(output + ".block"));
                values = exportedBy(output + ".block");
            }
            else
            {
                values = exportedBy(output + "/Contents/Resources/properties");
            }
        }
        EXPECT_EQ(kServer, values.value("SENTINEL_SERVER"));
        EXPECT_EQ(kExclusions.toStdString(),
                  values.value("SENTINEL_SCAN_EXCLUSIONS").toStdString());
        EXPECT_EQ("75", values.value("SENTINEL_SCAN_CPU_LIMIT"));
        EXPECT_EQ("daily", values.value("SENTINEL_SCAN_SCHEDULE"));
        EXPECT_EQ("none", values.value("SENTINEL_PROXY_MODE"));
        EXPECT_EQ("7", values.value("SENTINEL_SCAN_AREAS"));
    }
}

namespace
{
QByteArray replaced(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    EXPECT_TRUE(text.contains(from)) << from.toStdString();
    return text.replace(from, to);
}
} // namespace

// A customization carried from one release to the next, each kind of change
// upstream reported; the window's Import tells the same.
TEST_F(CliPublishTest, MigrateReportsEveryKindOfUpstreamChange)
{
    const QString previous =
        scriptRelease("old/Sentinel.package", "4.2.1", [](QByteArray d) { return d; });
    const QString next = scriptRelease(
        "new/Sentinel.package", "4.3.0",
        [](QByteArray d)
        {
            d = replaced(d, "default=\"8443\" row=\"3\"", "default=\"9443\" row=\"3\"");
            d = replaced(d, "property=\"SENTINEL_CA_FILE\"", "");
            d = replaced(d, "<entry title=\"Every day\" value=\"daily\">",
                         "<entry title=\"Every day\" value=\"daily\" "
                         "versionmin=\"9.0\">");
            d = replaced(d, "maximum=\"365\"", "maximum=\"90\"");
            d = replaced(d, "mask=\"&gt;NNNNNNNNNNNNNNNN\"", "mask=\"9999999999999999\"");
            // A line field that became a number field.
            d = replaced(d, "<lineedit name=\"ProxyHost\"", "<numberedit name=\"ProxyHost\"");
            d = replaced(d, "<label title=\"Notes for your records",
                         "<lineedit name=\"Tenant\" "
                         "property=\"SENTINEL_TENANT\" default=\"main\"/>\n"
                         "<label title=\"Notes for your records");
            return d;
        });
    const QString customization = writeFile(
        "old/custom.xml",
        "<?xml version=\"1.0\"?>\n<AdminCustomization version=\"1.0\" source=\"" +
            QFile::encodeName(previous) +
            "\" productVersion=\"4.2.1\"><properties>\n"
            "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">kept.example</property>\n"
            "<property name=\"SENTINEL_SERVER_PORT\" widget=\"ServerPort\">7000</property>\n"
            "<property name=\"SENTINEL_CA_FILE\" widget=\"CaCertificate\">/ca.pem</property>\n"
            "<property name=\"SENTINEL_SCAN_SCHEDULE\" widget=\"ScanSchedule\">daily</property>\n"
            "<property name=\"SENTINEL_QUARANTINE_DAYS\" widget=\"QuarantineDays\">200</property>\n"
            "<property name=\"SENTINEL_ENROLLMENT_TOKEN\" widget=\"EnrollmentToken\">AB12CD34"
            "</property>\n"
            "<property name=\"SENTINEL_PROXY_HOST\" widget=\"ProxyHost\">proxy.example</property>\n"
            "</properties></AdminCustomization>\n");
    const QString output = testPath("new/custom.xml");
    const CCliRun migrated =
        runCli({"migrate", customization, "--to", next, "--output", output, "--json"});
    ASSERT_EQ(0, migrated.m_iStatus) << migrated.m_sErr.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(migrated.m_sOut.toUtf8()).object();
    EXPECT_EQ("4.2.1", report.value("fromVersion").toString());
    EXPECT_EQ("4.3.0.0", report.value("toVersion").toString());
    QMap<QString, QJsonObject> byName;
    for (const QJsonValue& item : report.value("properties").toArray())
        byName.insert(item.toObject().value("property").toString(), item.toObject());
    EXPECT_EQ("kept", byName["SENTINEL_SERVER"].value("status").toString());
    EXPECT_EQ("default-changed", byName["SENTINEL_SERVER_PORT"].value("status").toString());
    EXPECT_EQ("8443", byName["SENTINEL_SERVER_PORT"].value("oldDefault").toString());
    EXPECT_EQ("9443", byName["SENTINEL_SERVER_PORT"].value("newDefault").toString());
    EXPECT_EQ("7000", byName["SENTINEL_SERVER_PORT"].value("newValue").toString());
    EXPECT_EQ("removed", byName["SENTINEL_CA_FILE"].value("status").toString());
    EXPECT_EQ("/ca.pem", byName["SENTINEL_CA_FILE"].value("value").toString());
    EXPECT_EQ("new", byName["SENTINEL_TENANT"].value("status").toString());
    // Properties the customization does not list are not new when the release it was
    // made for has them: they keep the installer's default.
    int added = 0;
    for (const QJsonObject& item : byName)
        added += item.value("status").toString() == "new";
    EXPECT_EQ(1, added);
    EXPECT_EQ("kept", byName["SENTINEL_SCAN_HOUR"].value("status").toString());
    EXPECT_EQ("main", byName["SENTINEL_TENANT"].value("newDefault").toString());
    // A secret's values are reported as set, never printed; the file still holds them.
    for (const auto& invalid : {QPair<QString, QString>{"SENTINEL_SCAN_SCHEDULE", "weekly"},
                                {"SENTINEL_QUARANTINE_DAYS", "90"},
                                {"SENTINEL_ENROLLMENT_TOKEN", "not set"},
                                {"SENTINEL_PROXY_HOST", ""}})
    {
        const QJsonObject item = byName[invalid.first];
        EXPECT_EQ("invalid", item.value("status").toString()) << invalid.first.toStdString();
        EXPECT_EQ(invalid.second, item.value("newValue").toString()) << invalid.first.toStdString();
        EXPECT_FALSE(item.value("reason").toString().isEmpty());
    }

    EXPECT_TRUE(byName["SENTINEL_ENROLLMENT_TOKEN"].value("secret").toBool());
    EXPECT_FALSE(migrated.m_sOut.contains("AB12CD34") || migrated.m_sOut.contains("1234"))
        << migrated.m_sOut.toStdString();
    // The token the new field does not take (letters where it wants digits) is not cut
    // down to the digits it has: the field keeps its own, empty, value.
    EXPECT_FALSE(bytesOf(output).contains("1234")) << bytesOf(output).toStdString();
    // Neither is a host name kept in what is now a number field.
    EXPECT_FALSE(bytesOf(output).contains("proxy.example")) << bytesOf(output).toStdString();

    // The new customization opens over the new release with the carried values.
    const CCliRun shown = runCli({"show", output, "--json"});
    ASSERT_EQ(0, shown.m_iStatus) << shown.m_sErr.toStdString();
    const QJsonObject opened = QJsonDocument::fromJson(shown.m_sOut.toUtf8()).object();
    EXPECT_EQ("4.3.0.0", opened.value("version").toString());
    QMap<QString, QString> values;
    for (const QJsonValue& item : opened.value("properties").toArray())
        values.insert(item.toObject().value("property").toString(),
                      item.toObject().value("value").toString());
    EXPECT_EQ("kept.example", values["SENTINEL_SERVER"]);
    EXPECT_EQ("7000", values["SENTINEL_SERVER_PORT"]);
    EXPECT_EQ("90", values["SENTINEL_QUARANTINE_DAYS"]);
    EXPECT_EQ("main", values["SENTINEL_TENANT"]);
    EXPECT_FALSE(values.contains("SENTINEL_CA_FILE"));

    // An existing output is kept without --force; the report in the window on Import.
    EXPECT_EQ(2, runCli({"migrate", customization, "--to", next, "--output", output}).m_iStatus);
    EXPECT_EQ(2, runCli({"migrate", customization, "--to", customization, "--output",
                         testPath("other.xml")})
                     .m_iStatus);
    CModalAnswerer answers({acceptReview}, QMessageBox::Yes);
    CAdminPage window(next, QStringList());
    answers.m_lFileAnswers << customization;
    window.import();
    ASSERT_EQ(1, answers.m_lTexts.size());
    const QString text = answers.m_lTexts.first();
    EXPECT_TRUE(text.contains("version 4.2.1")) << text.toStdString();
    for (const char* expected :
         {"SENTINEL_SERVER_PORT: the default changed from \"8443\" to \"9443\"",
          "SENTINEL_CA_FILE: no longer in the installer", "SENTINEL_TENANT: new in the installer",
          "SENTINEL_QUARANTINE_DAYS: the value \"200\"",
          "SENTINEL_ENROLLMENT_TOKEN: the value set "})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    EXPECT_FALSE(text.contains("AB12CD34")) << text.toStdString();
    EXPECT_EQ("90", window.findChild<QSpinBox*>(QStringLiteral("QuarantineDays"))->cleanText());
}
