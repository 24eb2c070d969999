#include "AppTestSupport.h"

#include "app/document/PropertyText.h"
#include "app/document/Publisher.h"
#include "app/packages/CopyFileThread.h"
#include "app/packages/PackageSignature.h"
#include "app/packages/PackagerThread.h"
#include "app/signing/PublishSigning.h"
#include "app/window/AdminPage.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <preference/Preference.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace AppTest;

// Readable failures for Qt strings.
inline void PrintTo(const QString& text, std::ostream* stream)
{
    *stream << '"' << text.toStdString() << '"';
}

namespace
{
// The answers publishing needs: the review that opens it is gone through, and the
// question whether to replace an existing output is answered Yes, unrecorded.
QList<CModalAnswerer::Handler> publishing()
{
    const CModalAnswerer::Handler replace = [](QDialog* dialog)
    {
        QMessageBox* const box = qobject_cast<QMessageBox*>(dialog);
        if (!box || !box->text().contains(QLatin1String("already exists")))
            return false;
        if (QAbstractButton* yes = box->button(QMessageBox::Yes))
            yes->click();
        else
            box->reject();
        return true;
    };
    return {acceptReview, replace};
}

int modeOf(const QString& path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                     : -1;
}

QString textOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// What a JavaScript engine makes of the Distribution's script: parsed by a real XML
// parser, run by node, ts_properties printed as JSON.
QMap<QString, QString> javaScriptValues(const QString& distribution)
{
    const QString script = testPath("distribution-script.js");
    runShell("python3 -c 'import sys, xml.etree.ElementTree as E; "
             "open(sys.argv[2], \"w\", encoding=\"utf-8\").write(E.parse(sys.argv[1]).getroot()"
             ".find(\"script\").text)' " +
             shellQuoted(distribution) + " " + shellQuoted(script));
    std::string json;
    EXPECT_EQ(0, TestSupport::runCommand(
                     "node -e 'const c = {}; require(\"vm\").runInNewContext("
                     "require(\"fs\").readFileSync(process.argv[1], \"utf8\"), c); "
                     "process.stdout.write(JSON.stringify(Object.assign({}, c.ts_properties)))' " +
                         shellQuoted(script).toStdString(),
                     &json));
    QMap<QString, QString> values;
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    for (auto it = object.begin(); it != object.end(); ++it)
        values.insert(it.key(), it.value().toString());
    return values;
}

QMap<QString, QString> asMap(const CPropertyText::Properties& properties)
{
    QMap<QString, QString> map;
    for (const auto& property : properties)
        map.insert(property.first, property.second);
    return map;
}
} // namespace

namespace
{
const QString kServer = QStringLiteral("console 'one' \"two\" $HOME \\ Grüße\u2028.example");
const QString kExclusions = QStringLiteral("/one path\n/two 'quoted' <&> `id`\n/三  end");
const QString kUpdates = QStringLiteral("https://updates.example/Grüße?a=1&b='2'&c=$(id)");
const QString kInstallDir = QStringLiteral("/Applications/It's \"here\" $PATH \\ ü");
const QString kSuccess = QStringLiteral("Tessary successfully generated the installation package.");

class PublishTest : public AppFixture
{
protected:
    // The administrator's values, typed on four pages.
    static void enterValues(CAdminPage& window)
    {
        QLineEdit* const server = window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"));
        QLineEdit* const install = window.findChild<QLineEdit*>(QStringLiteral("InstallDir"));
        QLineEdit* const updates = window.findChild<QLineEdit*>(QStringLiteral("UpdateSource"));
        QPlainTextEdit* const exclusions =
            window.findChild<QPlainTextEdit*>(QStringLiteral("Exclusions"));
        ASSERT_TRUE(server && install && updates && exclusions);
        server->clear();
        QTest::keyClicks(server, QStringLiteral("typed"));
        server->setText(kServer);
        install->setText(kInstallDir);
        updates->setText(kUpdates);
        exclusions->setPlainText(kExclusions);
    }

    static void expectValues(CAdminPage& window)
    {
        EXPECT_EQ(kServer, window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->text());
        EXPECT_EQ(kInstallDir, window.findChild<QLineEdit*>(QStringLiteral("InstallDir"))->text());
        EXPECT_EQ(kUpdates, window.findChild<QLineEdit*>(QStringLiteral("UpdateSource"))->text());
        EXPECT_EQ(kExclusions.toStdString(),
                  window.findChild<QPlainTextEdit*>(QStringLiteral("Exclusions"))
                      ->toPlainText()
                      .toStdString());
    }

    static void expectEntered(const QMap<QString, QString>& values)
    {
        EXPECT_EQ(kServer, values.value(QStringLiteral("SENTINEL_SERVER")));
        EXPECT_EQ(kInstallDir, values.value(QStringLiteral("SENTINEL_INSTALL_DIR")));
        EXPECT_EQ(kUpdates, values.value(QStringLiteral("SENTINEL_UPDATE_URL")));
        EXPECT_EQ(kExclusions.toStdString(),
                  values.value(QStringLiteral("SENTINEL_SCAN_EXCLUSIONS")).toStdString());
    }

    // Save As, reopen, import into a fresh document, publish to out/Published;
    // returns the published values and the output path.
    QString roundTrip(const QString& sampleName, QMap<QString, QString>& published,
                      const std::function<void(CAdminPage&)>& beforePublish = nullptr)
    {
        CModalAnswerer driver(publishing());
        const QString settings = testPath("custom/settings");
        QDir().mkpath(testPath("custom"));
        QDir().mkpath(testPath("out"));
        {
            CAdminPage window(sample(sampleName), QStringList());
            enterValues(window);
            EXPECT_TRUE(window.windowTitle().endsWith(" *")) << window.windowTitle().toStdString();
            driver.m_lFileAnswers << settings;
            window.saveAs();
            EXPECT_EQ(settings + ".xml", window.configurationFile().absoluteFilePath());
            EXPECT_FALSE(window.isChanged());
            EXPECT_TRUE(window.windowTitle().endsWith(" - settings.xml"));
        }
        {
            CAdminPage reopened(settings + ".xml", QStringList());
            EXPECT_EQ(QFileInfo(sample(sampleName)).absoluteFilePath(),
                      reopened.sourcePackageFile().absoluteFilePath());
            expectValues(reopened);
            EXPECT_FALSE(reopened.isChanged());
            EXPECT_TRUE(reopened.windowTitle().endsWith(" - settings.xml"));
        }
        CAdminPage fresh(sample(sampleName), QStringList());
        driver.m_lFileAnswers << settings + ".xml";
        fresh.import();
        EXPECT_EQ(QStringList{"Import configuration file..."}, driver.m_lFileCaptions.mid(1, 1));
        expectValues(fresh);
        EXPECT_FALSE(fresh.isChanged());
        EXPECT_TRUE(fresh.configurationFile().filePath().isEmpty());
        if (beforePublish)
            beforePublish(fresh);

        published = asMap(fresh.publishedProperties());
        expectEntered(published);
        driver.m_lFileAnswers << testPath("out/Published");
        fresh.publish();
        EXPECT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
        EXPECT_EQ(QStringList{kSuccess}, driver.m_lTexts);
        EXPECT_FALSE(fresh.progressDialog()->isVisible());
        EXPECT_EQ(nullptr, QApplication::overrideCursor());
        return fresh.lastPublishedFile().absoluteFilePath();
    }

    // Checks a published flat package; returns its expanded Distribution text.
    static QString checkFlatPackage(const QString& package, const QMap<QString, QString>& published,
                                    const QString& expandInto)
    {
        runShell("pkgutil --expand " + shellQuoted(package) + " " + shellQuoted(expandInto));
        const QString properties = expandInto + "/Scripts/properties";
        EXPECT_EQ(0755, modeOf(properties));
        EXPECT_EQ(published, exportedBy(properties));
        const QString distribution = expandInto + "/Distribution";
        EXPECT_EQ(published, javaScriptValues(distribution));
        EXPECT_TRUE(QFileInfo(expandInto + "/Scripts/AdminConfigModified.xml").isFile());
        return textOf(distribution);
    }
};
} // namespace

TEST_F(PublishTest, FlatPackageRoundTripAndRepublish)
{
    QMap<QString, QString> published;
    const QString output = roundTrip("TessarySample.pkg", published);
    EXPECT_EQ(testPath("out/Published.pkg"), output);
    const QString distribution = checkFlatPackage(output, published, testPath("expanded"));
    EXPECT_EQ(1, distribution.count("var ts_properties = new Array();"));
    EXPECT_FALSE(published.contains("$AI_AdminNotes"));

    // The published package opens as a customization with the values; publishing it
    // again replaces the block.
    CModalAnswerer driver(publishing());
    CAdminPage again(output, QStringList());
    EXPECT_EQ(output, again.sourcePackageFile().absoluteFilePath());
    expectValues(again);
    EXPECT_FALSE(again.isChanged());
    driver.m_lFileAnswers << testPath("out/Again.pkg");
    again.publish();
    ASSERT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
    EXPECT_EQ(QStringList{kSuccess}, driver.m_lTexts);
    const QString second =
        checkFlatPackage(testPath("out/Again.pkg"), published, testPath("expanded-again"));
    EXPECT_EQ(1, second.count("var ts_properties = new Array();")) << second.toStdString();
    EXPECT_EQ(distribution, second);
}

TEST_F(PublishTest, DiskImageRoundTripPublishesItsFlatPackage)
{
    QMap<QString, QString> published;
    const QString output = roundTrip("TessarySample.dmg", published);
    EXPECT_EQ(testPath("out/Published.pkg"), output);
    checkFlatPackage(output, published, testPath("expanded"));
}

TEST_F(PublishTest, BundleRoundTripsAddPreinstallAndPropertiesAndLeaveOutPkgFiles)
{
    for (const QString& name :
         {QStringLiteral("TessarySample-bundle.pkg"), QStringLiteral("TessarySample.mpkg")})
    {
        SCOPED_TRACE(name.toStdString());
        QMap<QString, QString> published;
        const QString output = roundTrip(name, published,
                                         [](CAdminPage& window)
                                         {
                                             QCheckBox* const omit = window.findChild<QCheckBox*>(
                                                 QStringLiteral("OmitUninstaller"));
                                             ASSERT_TRUE(omit);
                                             omit->setChecked(true);
                                         });
        EXPECT_EQ(testPath(name.endsWith("mpkg") ? "out/Published.mpkg" : "out/Published.pkg"),
                  output);
        const QString resources = output + "/Contents/Resources/";
        for (const QString& file : {QStringLiteral("preinstall"), QStringLiteral("properties")})
            EXPECT_EQ(QFileDevice::Permissions(0x7755), QFileInfo(resources + file).permissions())
                << file.toStdString();
        EXPECT_EQ(QStringLiteral("#!/bin/bash\ncp \"$1/Contents/Resources/properties\" "
                                 "\"$INSTALLER_TEMP/properties\""),
                  textOf(resources + "preinstall"));
        EXPECT_EQ(published, exportedBy(resources + "properties"));
        EXPECT_FALSE(published.contains("$PKG_Uninstaller"));
        EXPECT_FALSE(QFileInfo::exists(resources + "AdminConfig.xml"));
        EXPECT_FALSE(QFileInfo::exists(resources + "uninstall.sh"));
        EXPECT_TRUE(QFileInfo(resources + "postflight").isFile());
        EXPECT_TRUE(QFileInfo(output + "/Contents/Archive.pax.gz").isFile());
        // The preinstall script hands the properties to the installer.
        QDir().mkpath(testPath("installer-temp"));
        runShell("INSTALLER_TEMP=" + shellQuoted(testPath("installer-temp")) + " bash " +
                 shellQuoted(resources + "preinstall") + " " + shellQuoted(output));
        EXPECT_EQ(published, exportedBy(testPath("installer-temp/properties")));
        QDir(testPath("out")).removeRecursively();
        QDir(testPath("installer-temp")).removeRecursively();
    }
}

TEST_F(PublishTest, ScriptInstallerRoundTripStillInstallsAndExportsTheValues)
{
    QMap<QString, QString> published;
    const QString output = roundTrip("TessarySample.package", published);
    EXPECT_EQ(testPath("out/Published.package"), output);
    EXPECT_TRUE(QFileInfo(output).isExecutable());
    QDir(testPath("out")).setNameFilters({"*.package.*"});
    EXPECT_TRUE(QDir(testPath("out")).entryList({"Published.package.*"}).isEmpty());

    // The customization block, sourced alone, exports the values and the marker.
    const QString block = testPath("block");
    runShell("sed -n '/^## BEGIN KORVA CUSTOMIZATION/,/^## END KORVA CUSTOMIZATION/p' " +
             shellQuoted(output) + " > " + shellQuoted(block));
    QMap<QString, QString> expected = published;
    expected.insert("TS_MODIFICATION", "1");
    EXPECT_EQ(expected, exportedBy(block));

    const QString prefix = testPath("installed");
    runShell("bash " + shellQuoted(output) + " --prefix " + shellQuoted(prefix) + " --no-service");
    EXPECT_TRUE(QFileInfo(prefix + "/bin/sentinel-agent").isFile());
    const QString managed = textOf(prefix + "/etc/sentinel-managed.conf");
    EXPECT_TRUE(managed.contains("server = " + kServer)) << managed.toStdString();
    EXPECT_TRUE(managed.contains("update_url = " + kUpdates)) << managed.toStdString();
}

namespace
{
// A copy of a sample in the test's directory, which the test may change or remove.
QString copySample(const QString& name, const QString& to)
{
    const QString target = testPath(to);
    QDir().mkpath(QFileInfo(target).absolutePath());
    runShell("cp -R " + shellQuoted(sample(name)) + " " + shellQuoted(target));
    return target;
}

// A regular file, below which nothing can be created, even by root.
QString belowAFile(const QString& name)
{
    return writeFile("blocker", "not a directory\n") + "/" + name;
}
} // namespace

TEST_F(PublishTest, OwnPathAdminConfigAndCancelledValidationPublishNothing)
{
    const QString input = copySample("TessarySample.pkg", "in/Input.pkg");
    CModalAnswerer driver(publishing());
    {
        CAdminPage window(input, QStringList());
        enterValues(window);
        driver.m_lFileAnswers << testPath("in/Input");
        window.publish();
        // Said as what it is, not as a file that could not be deleted.
        EXPECT_EQ(QStringList{"The output \"" + input +
                              "\" is the installer being published; choose another path for "
                              "the customized copy."},
                  driver.m_lTexts);
        EXPECT_EQ(QStringList{"Save file..."}, driver.m_lFileCaptions);

        // An empty server address makes the definition's own check ask; No cancels.
        driver.m_lTexts.clear();
        driver.m_lFileCaptions.clear();
        window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->clear();
        driver.setAnswer(QMessageBox::No);
        window.publish();
        ASSERT_EQ(1, driver.m_lTexts.size());
        EXPECT_TRUE(driver.m_lTexts.first().startsWith("No management server address is set."));
        EXPECT_TRUE(driver.m_lFileCaptions.isEmpty());
    }
    const QString adminConfig = testPath("direct/AdminConfig.xml");
    QDir().mkpath(testPath("direct"));
    QFile::copy(QString::fromStdString(TestSupport::sourceDirectory()) +
                    "/examples/AdminConfig.xml",
                adminConfig);
    driver.m_lTexts.clear();
    CAdminPage window(adminConfig, QStringList());
    window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText("x");
    window.saveAs();
    window.publish();
    const QString refused = QStringLiteral(
        "The AdminConfig.xml can not be saved or published. It is only used for testing purposes.");
    EXPECT_EQ(QStringList({refused, refused}), driver.m_lTexts);
    EXPECT_TRUE(driver.m_lFileCaptions.isEmpty());
}

TEST_F(PublishTest, UnwritableDestinationsAreReportedAndCloseTheProgress)
{
    const QString writeText =
        QStringLiteral("\".  Close the file if it's open, verify that the disk isn't full, remove "
                       "write-protection on the file, and then try again.");
    for (const QString& name :
         {QStringLiteral("TessarySample.pkg"), QStringLiteral("TessarySample.mpkg"),
          QStringLiteral("TessarySample.package")})
    {
        SCOPED_TRACE(name.toStdString());
        CModalAnswerer driver(publishing());
        CAdminPage window(sample(name), QStringList());
        enterValues(window);
        const QString suffix = QFileInfo(name).suffix();
        const QString output = belowAFile("Published." + suffix);
        driver.m_lFileAnswers << output;
        window.publish();
        ASSERT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
        // Late reports of the same failure add no second message.
        waitFor([] { return false; }, 300);
        const QString expected =
            suffix == "package" ? QString("Cannot write to file \"" + output + writeText)
                                : QString("Tessary is unable to write to \"" + output + writeText);
        EXPECT_EQ(QStringList{expected}, driver.m_lTexts);
        EXPECT_FALSE(window.progressDialog()->isVisible());
        EXPECT_EQ(nullptr, QApplication::overrideCursor());

        // Saving there fails the same way, and the document stays changed.
        driver.m_lTexts.clear();
        driver.m_lFileAnswers << belowAFile("settings.xml");
        window.saveAs();
        EXPECT_EQ(
            QStringList{"Tessary is unable to save \"" + belowAFile("settings.xml") + writeText},
            driver.m_lTexts);
        EXPECT_TRUE(window.isChanged());
    }
}

TEST_F(PublishTest, UnmountableImageIsReported)
{
    const QString image = copySample("TessarySample.dmg", "image/Sample.dmg");
    CModalAnswerer driver(publishing());
    CAdminPage window(image, QStringList());
    enterValues(window);
    // The image goes bad after it was opened.
    writeFile("image/Sample.dmg", QByteArray(4096, 'x'));
    window.publish();
    EXPECT_EQ(QStringList{"Tessary is unable to extract files from \"" + image +
                          "\".  Verify that the disk isn't full, that the file exists, and that "
                          "it has read permissions, and then try again."},
              driver.m_lTexts);
    EXPECT_TRUE(driver.m_lFileCaptions.isEmpty());
}

namespace
{
// A flat package made from the sample with its page definition edited by sed.
QString flatVariant(const QString& name, const QString& sedScript)
{
    const QString expanded = testPath(name + ".d");
    runShell("pkgutil --expand " + shellQuoted(sample("TessarySample.pkg")) + " " +
             shellQuoted(expanded));
    runShell("sed -i -e " + shellQuoted(sedScript) + " " +
             shellQuoted(expanded + "/Scripts/AdminConfig.xml"));
    const QString package = testPath(name + ".pkg");
    runShell("pkgutil --flatten " + shellQuoted(expanded) + " " + shellQuoted(package));
    return package;
}
} // namespace

TEST_F(PublishTest, PropertyNamesTheShellCannotTakeStopThePublish)
{
    const QString package =
        flatVariant("BadName", "s/property=\"SENTINEL_SERVER\"/property=\"SENTINEL-SERVER;id\"/");
    CModalAnswerer driver(publishing());
    CAdminPage window(package, QStringList());
    enterValues(window);
    window.publish();
    EXPECT_EQ(QStringList{"Tessary cannot publish the property \"SENTINEL-SERVER;id\": its name "
                          "is not a valid shell variable name. A name may hold only letters, "
                          "digits and \"_\" and must not begin with a digit. Correct the "
                          "installer's page definition, and then try again."},
              driver.m_lTexts);
    EXPECT_TRUE(driver.m_lFileCaptions.isEmpty());
    EXPECT_FALSE(window.generateProperties(CAdminPage::ShellStyle).contains("SENTINEL-SERVER"));
    EXPECT_TRUE(window.generateProperties(CAdminPage::JavaScriptStyle)
                    .contains("ts_properties[\"SENTINEL-SERVER;id\"] = \"console 'one'"));
}

TEST_F(PublishTest, ImportRefusesWhatIsNoCustomizationAndKeepsTheDocument)
{
    CModalAnswerer driver(publishing());
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    enterValues(window);
    window.resetChanged(false);
    const QString definition =
        QString::fromStdString(TestSupport::sourceDirectory()) + "/examples/AdminConfig.xml";
    driver.m_lFileAnswers << definition;
    window.import();
    const QString invalid = QStringLiteral("This file is not a valid configuration file.");
    EXPECT_EQ(QStringList{invalid}, driver.m_lTexts);
    expectValues(window);

    // A customization file that cannot be read.
    const QString custom = writeFile("custom.xml", "<AdminCustomization version=\"1.0\"/>");
    // Every descriptor in use: the file exists but cannot be opened.
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    struct rlimit limit = saved;
    limit.rlim_cur = 64;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));
    QList<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        taken.append(fd);
    const bool loaded = window.loadCustomizationFile(QFileInfo(custom), true);
    for (int fd : taken)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(QStringList({invalid, "Tessary is unable to open \"" + custom +
                                        "\".  Verify that the file exists and that is has read "
                                        "permissions, and then try again."}),
              driver.m_lTexts);
}

TEST_F(PublishTest, ScriptInstallerFailuresRemoveThePartialOutput)
{
    const QString input = copySample("TessarySample.package", "in/Input.package");
    CModalAnswerer driver(publishing());
    CAdminPage window(input, QStringList());
    enterValues(window);

    // Writing stops at a file-size limit; nothing of the copy stays.
    const QString output = testPath("out/Limited.package");
    QDir().mkpath(testPath("out"));
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    driver.m_lFileAnswers << output;
    window.publish();
    EXPECT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_TRUE(waitFor([&] { return !window.packagerThread()->isRunning(); }));
    waitFor([] { return false; }, 300);
    EXPECT_EQ(QStringList{"Cannot write to file \"" + output +
                          "\".  Close the file if it's open, verify that the disk isn't full, "
                          "remove write-protection on the file, and then try again."},
              driver.m_lTexts);
    EXPECT_EQ(QStringList(), QDir(testPath("out")).entryList(QDir::Files | QDir::Hidden));

    // A source that went away.
    driver.m_lTexts.clear();
    QFile::remove(input);
    driver.m_lFileAnswers << output;
    window.publish();
    EXPECT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
    ASSERT_TRUE(waitFor([&] { return !window.packagerThread()->isRunning(); }));
    EXPECT_EQ(QStringList{"Tessary is unable to open \"" + input +
                          "\".  Verify that the file exists and that is has read permissions, "
                          "and then try again."},
              driver.m_lTexts);
    EXPECT_EQ(QStringList(), QDir(testPath("out")).entryList(QDir::Files | QDir::Hidden));
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
}

TEST_F(PublishTest, BundleFilesThatCannotBeWrittenAreReported)
{
    // A package whose copy holds a directory where the preinstall script goes.
    const QString input = copySample("TessarySample.mpkg", "in/Input.mpkg");
    QDir().mkpath(input + "/Contents/Resources/preinstall");
    CModalAnswerer driver(publishing());
    CAdminPage window(input, QStringList());
    enterValues(window);
    driver.m_lFileAnswers << testPath("out/Published.mpkg");
    window.publish();
    ASSERT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
    EXPECT_EQ(QStringList{"Tessary is unable to write to \"" +
                          testPath("out/Published.mpkg/Contents/Resources/preinstall") +
                          "\".  Verify that the disk isn't full, remove write-protection on this "
                          "file, and then try again."},
              driver.m_lTexts);
    EXPECT_FALSE(QFileInfo::exists(testPath("out/Published.mpkg/Contents/Resources/properties")));

    driver.m_lTexts.clear();
    const QString bundle = belowAFile("Published.mpkg");
    EXPECT_FALSE(window.writeBundleFiles(QDir(bundle), "export A='1'\n"));
    EXPECT_EQ(QStringList{"Tessary is unable to create the directory \"" + bundle +
                          "/Contents/Resources\".  Verify that the disk isn't full, remove "
                          "write-protection at this location, and then try again."},
              driver.m_lTexts);
}

TEST_F(PublishTest, AFailedSaveKeepsThePreviousFile)
{
    CModalAnswerer driver(publishing());
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    enterValues(window);
    const QString settings = testPath("settings.xml");
    driver.m_lFileAnswers << settings;
    window.saveAs();
    ASSERT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join('\n').toStdString();
    const QString before = textOf(settings);
    ASSERT_TRUE(before.contains("SENTINEL_SERVER"));

    window.findChild<QPlainTextEdit*>(QStringLiteral("Exclusions"))
        ->setPlainText(QString(20000, QLatin1Char('x')));
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit limit = saved;
    limit.rlim_cur = 8192;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    window.save();
    setrlimit(RLIMIT_FSIZE, &saved);
    ASSERT_EQ(1, driver.m_lTexts.size());
    EXPECT_TRUE(driver.m_lTexts.first().startsWith("Tessary is unable to save \"" + settings));
    EXPECT_EQ(before, textOf(settings));
    EXPECT_TRUE(window.isChanged());
    EXPECT_EQ(QStringList{"settings.xml"},
              QDir(testPath("")).entryList({"settings*"}, QDir::Files | QDir::Hidden));
}

TEST_F(PublishTest, CancelStopsALongFlatPublishAndLeavesNoWorkBehind)
{
    // A package whose payload takes the tools a while.
    const QString expanded = testPath("big.d");
    runShell("pkgutil --expand " + shellQuoted(sample("TessarySample.pkg")) + " " +
             shellQuoted(expanded));
    runShell("head -c 150000000 /dev/urandom > " + shellQuoted(expanded + "/Payload"));
    const QString package = testPath("Big.pkg");
    runShell("pkgutil --flatten " + shellQuoted(expanded) + " " + shellQuoted(package));
    QDir(expanded).removeRecursively();

    // Work directories go to a private place where leftovers can be seen.
    const QString temporary = testPath("tmp");
    QDir().mkpath(temporary);
    qputenv("TMPDIR", QFile::encodeName(temporary));
    QDir().mkpath(testPath("out"));

    CModalAnswerer driver(publishing());
    CAdminPage window(package, QStringList());
    enterValues(window);
    driver.m_lFileAnswers << testPath("out/Big.pkg");
    window.publish();
    QProgressDialog* const progress = window.progressDialog();
    ASSERT_TRUE(waitFor([&] { return progress->isVisible(); }));
    const QString children =
        QStringLiteral("pgrep -P %1 pkgutil").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(waitFor([&] { return TestSupport::runCommand(children.toStdString()) == 0; }));
    QPushButton* const cancel = progress->findChild<QPushButton*>();
    ASSERT_TRUE(cancel);
    cancel->click();

    EXPECT_TRUE(
        waitFor([&] { return TestSupport::runCommand(children.toStdString()) != 0; }, 3000));
    EXPECT_TRUE(waitFor(
        [&]
        {
            return QDir(temporary)
                       .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                       .isEmpty() &&
                   QDir(testPath("out"))
                       .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                       .isEmpty();
        },
        5000))
        << QDir(temporary)
               .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
               .join(' ')
               .toStdString()
        << QDir(testPath("out"))
               .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
               .join(' ')
               .toStdString();
    waitFor([] { return false; }, 300);
    EXPECT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join('\n').toStdString();
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
    qunsetenv("TMPDIR");
}

TEST_F(PublishTest, AnOldOutputThatCannotBeRemovedIsStillReplaced)
{
    // An immutable file keeps even root from removing the old output; the new one is
    // built beside it and the old one only moved out of its way.
    const QString locked = writeFile("out/Published.mpkg/locked", "old\n");
    if (TestSupport::runCommand("chattr +i " + shellQuoted(locked).toStdString() +
                                " 2>/dev/null") != 0)
        GTEST_SKIP() << "chattr +i is not permitted here, so no removal can be made to fail";
    CModalAnswerer driver(publishing());
    {
        CAdminPage window(sample("TessarySample.mpkg"), QStringList());
        enterValues(window);
        // The dialog would enter an existing directory; the suffix is added after it.
        driver.m_lFileAnswers << testPath("out/Published");
        window.publish();
        waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000);
        waitFor([] { return false; }, 300);
        EXPECT_FALSE(window.progressDialog()->isVisible());
    }
    runShell("find " + shellQuoted(testPath("out")) + " -name locked -exec chattr -i {} +");
    EXPECT_EQ(QStringList{kSuccess}, driver.m_lTexts);
    EXPECT_FALSE(QFileInfo::exists(locked));
    EXPECT_TRUE(QFileInfo(testPath("out/Published.mpkg/Contents/Resources/properties")).isFile());
}

TEST_F(PublishTest, SaveActsAsSaveAsUntilTheFirstSaveAsThenWritesInPlace)
{
    CModalAnswerer driver(publishing());
    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    enterValues(window);
    QDir().mkpath(testPath("a"));
    // The suffix test is case-sensitive.
    driver.m_lFileAnswers << testPath("a/settings.XML");
    window.save();
    const QString saved = testPath("a/settings.XML.xml");
    EXPECT_EQ(saved, window.configurationFile().absoluteFilePath());
    EXPECT_EQ(QStringList{"Save file..."}, driver.m_lFileCaptions);
    EXPECT_FALSE(window.isChanged());
    EXPECT_EQ(saved, window.recentFiles().value(0));

    window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText("second.example");
    EXPECT_TRUE(window.isChanged());
    window.save();
    EXPECT_EQ(1, driver.m_lFileCaptions.size());
    EXPECT_FALSE(window.isChanged());
    EXPECT_TRUE(textOf(saved).contains(
        "<property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">second.example</property>"));
    EXPECT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join('\n').toStdString();
}

TEST_F(PublishTest, CancelStopsAScriptInstallerCopyAndRemovesItsOutput)
{
    // A payload large enough that the copy is still running when Cancel comes.
    const QString input = copySample("TessarySample.package", "in/Big.package");
    runShell("head -c 300000000 /dev/zero >> " + shellQuoted(input));
    QDir().mkpath(testPath("out"));
    CModalAnswerer driver(publishing());
    CAdminPage window(input, QStringList());
    enterValues(window);
    driver.m_lFileAnswers << testPath("out/Big");
    window.publish();
    ASSERT_TRUE(window.packagerThread()->isRunning());
    QPushButton* const cancel = window.progressDialog()->findChild<QPushButton*>();
    ASSERT_TRUE(cancel);
    cancel->click();
    ASSERT_TRUE(waitFor([&] { return !window.packagerThread()->isRunning(); }));
    waitFor([] { return false; }, 300);
    EXPECT_TRUE(driver.m_lTexts.isEmpty()) << driver.m_lTexts.join('\n').toStdString();
    EXPECT_EQ(QStringList(), QDir(testPath("out")).entryList(QDir::Files | QDir::Hidden));
    EXPECT_FALSE(window.progressDialog()->isVisible());
    EXPECT_EQ(nullptr, QApplication::overrideCursor());

    // The next publish runs normally.
    driver.m_lFileAnswers << testPath("out/Big");
    window.publish();
    ASSERT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
    EXPECT_EQ(QStringList{kSuccess}, driver.m_lTexts);
    // The copy carries the whole payload and the block of values.
    EXPECT_GT(QFileInfo(testPath("out/Big.package")).size(), QFileInfo(input).size());
    EXPECT_EQ(QStringList{"Big.package"},
              QDir(testPath("out")).entryList(QDir::Files | QDir::Hidden));
}

namespace
{
// Every file below a directory with its contents (links by their target).
QMap<QString, QByteArray> treeOf(const QString& root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
    {
        const QString path = it.next();
        const QFileInfo info(path);
        QByteArray content = info.isSymLink() ? info.symLinkTarget().toUtf8() : QByteArray();
        if (!info.isSymLink() && info.isFile())
        {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                content = file.readAll();
        }
        tree.insert(path.mid(root.size()), content);
    }
    return tree;
}
} // namespace

TEST_F(PublishTest, AFailedBundlePublishKeepsThePreviousOutput)
{
    const QString input = copySample("TessarySample-bundle.pkg", "in/Grow.pkg");
    const QString directory = testPath("small");
    QDir().mkpath(directory);
    // A small file system when it can be had; otherwise a limit on file sizes.
    const std::shared_ptr<void> mounted = mountSmallFileSystem(directory, "512k");
    const bool tmpfs = mounted != nullptr;
    const QString output = directory + "/Published.pkg";
    CModalAnswerer driver(publishing());
    {
        CAdminPage window(input, QStringList());
        enterValues(window);
        driver.m_lFileAnswers << directory + "/Published";
        window.publish();
        ASSERT_TRUE(waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000));
        ASSERT_EQ(QStringList{kSuccess}, driver.m_lTexts);
    }
    const QMap<QString, QByteArray> before = treeOf(output);
    ASSERT_TRUE(before.contains("/Contents/Resources/properties"));

    // The next publish carries a file that does not fit.
    const QString big = input + "/Contents/Resources/big.bin";
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(1 << 20, file.write(QByteArray(1 << 20, 'b')));
    }
    driver.m_lTexts.clear();
    {
        CAdminPage window(input, QStringList());
        window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText("second");
        driver.m_lFileAnswers << directory + "/Published";
        struct rlimit saved;
        ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
        if (!tmpfs)
        {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit = saved;
            limit.rlim_cur = 256 * 1024;
            ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
        }
        window.publish();
        waitFor([&] { return !driver.m_lTexts.isEmpty(); }, 60000);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(QStringList{"Tessary is unable to write to \"" + output +
                              "/Contents/Resources/big.bin\".  Close the file if it's open, verify "
                              "that the disk isn't full, remove write-protection on the file, and "
                              "then try again."},
                  driver.m_lTexts);
        EXPECT_FALSE(window.progressDialog()->isVisible());
        // The half-made copy goes; the previous output stays as it was.
        EXPECT_TRUE(waitFor(
            [&]
            {
                return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden |
                                                 QDir::NoDotAndDotDot) ==
                       QStringList{"Published.pkg"};
            },
            10000))
            << QDir(directory)
                   .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                   .join(' ')
                   .toStdString();
    }
    EXPECT_EQ(before, treeOf(output));
}

TEST_F(PublishTest, SignaturesAreShownKeptFromBeingLostSilentlyAndMadeWithTheChosenIdentity)
{
    // A certificate authority, an installer-signing identity it issued, and the
    // sample signed with it.
    const QString pki = testPath("pki");
    QDir().mkpath(pki);
    runShell("cd " + shellQuoted(pki) +
             " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem"
             " -subj '/CN=Tessary Test Root' -days 30 2>/dev/null"
             " && openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr"
             " -subj '/CN=Tessary Test Signer' 2>/dev/null"
             " && printf '[leaf]\\nkeyUsage = critical,digitalSignature\\n"
             "extendedKeyUsage = codeSigning\\n' > leaf.cnf"
             " && openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
             " -out signer.pem -days 30 -extfile leaf.cnf -extensions leaf 2>/dev/null"
             " && openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem"
             " -out signer.p12 -passout pass:open-sesame");
    const QString identity = pki + "/signer.p12";
    const QString signedSource = testPath("Signed.pkg");
    runShell("pkgutil --expand " + shellQuoted(sample("TessarySample.pkg")) + " " +
             shellQuoted(testPath("expanded-source")) +
             " && TESSARY_SIGN_PASSWORD=open-sesame pkgutil --flatten " +
             shellQuoted(testPath("expanded-source")) + " " + shellQuoted(signedSource) +
             " --sign-identity " + shellQuoted(identity));

    CModalAnswerer driver(publishing());
    CAdminPage window(signedSource, QStringList());
    QLabel* const status = window.findChild<QLabel*>(QStringLiteral("SignatureStatus"));
    ASSERT_TRUE(status);
    ASSERT_TRUE(waitFor([&] { return status->text().startsWith("Signed by"); }))
        << status->text().toStdString();
    EXPECT_EQ(QStringLiteral("Signed by Tessary Test Signer (not trusted on this computer)"),
              status->text());
    EXPECT_TRUE(status->toolTip().contains("issued by Tessary Test Root"))
        << status->toolTip().toStdString();
    enterValues(window);

    // Without an identity the output is unsigned, and the administrator is told once.
    const auto publishTo = [&](const QString& name)
    {
        driver.m_lTexts.clear();
        driver.m_lFileAnswers << testPath("out/" + name);
        window.publish();
        EXPECT_TRUE(waitFor([&] { return driver.m_lTexts.contains(kSuccess); }, 60000))
            << driver.m_lTexts.join("\n").toStdString();
        return CPackageSignature::check(testPath("out/" + name + ".pkg"));
    };
    QDir().mkpath(testPath("out"));
    EXPECT_EQ(CPackageSignature::Unsigned, publishTo("First").state());
    ASSERT_EQ(2, driver.m_lTexts.size());
    EXPECT_TRUE(driver.m_lTexts.first().contains("The published copy will be unsigned"));
    EXPECT_EQ(CPackageSignature::Unsigned, publishTo("Second").state());
    EXPECT_EQ(QStringList{kSuccess}, driver.m_lTexts);

    // The identity is checked in its dialog: a wrong password is said there.
    QStringList verdicts;
    QString password = "wrong";
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("SigningDialog"))
            return false;
        QLabel* const verdict = dialog->findChild<QLabel*>(QStringLiteral("IdentityVerdict"));
        if (!verdict->text().isEmpty() && !verdicts.contains(verdict->text()))
        {
            verdicts << verdict->text();
            password = "open-sesame";
        }
        dialog->findChild<QCheckBox*>(QStringLiteral("SignPublished"))->setChecked(true);
        dialog->findChild<QLineEdit*>(QStringLiteral("IdentityFile"))->setText(identity);
        dialog->findChild<QLineEdit*>(QStringLiteral("IdentityPassword"))->setText(password);
        // A wrong password keeps the dialog open for the next try.
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return true;
    };
    QAction* const signing = findAction(&window, "Signing &Identity...");
    ASSERT_TRUE(signing);
    signing->trigger();
    ASSERT_EQ(1, verdicts.size());
    EXPECT_TRUE(verdicts.first().contains("wrong password")) << verdicts.first().toStdString();

    const CPackageSignature output = publishTo("Third");
    EXPECT_TRUE(output.verifies()) << output.details().toStdString();
    ASSERT_FALSE(output.chain().isEmpty());
    EXPECT_EQ(QStringLiteral("Tessary Test Signer"), output.chain().first().name);
    EXPECT_EQ(QStringList{kSuccess}, driver.m_lTexts);

    // The identity file is remembered, the password is not.
    std::wstring remembered;
    Preference::Get(Preference::ScopeApplication)
        ->Read(CPublishSigning::SettingsKey, CPublishSigning::IdentityFileValue, remembered,
               std::wstring());
    EXPECT_EQ(identity, QString::fromStdWString(remembered));
    QDirIterator files(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext())
        EXPECT_FALSE(textOf(files.next()).contains("open-sesame"))
            << files.filePath().toStdString();
}

// The window shows the copy's progress in a modal dialog, whose event loop may
// deliver the packager's end while a progress report is still being shown: the
// copy was complete, and is published.
TEST_F(PublishTest, AScriptCopyEndingWhileItsProgressIsShownIsPublished)
{
    CCopyFileThread worker;
    CPackagerThread packager;
    CPublisher publisher(worker, packager);
    // As a modal progress dialog does when its value is set.
    QObject::connect(&publisher, &CPublisher::progress, &publisher,
                     [&](qint64 current, qint64 total)
                     {
                         if (current != total)
                             return;
                         packager.wait();
                         QCoreApplication::processEvents();
                     });
    CPublisher::CRequest request;
    request.m_source = QFileInfo(sample("TessarySample.package"));
    request.m_lSetEntries = {{"SENTINEL_SERVER", "ServerAddress", "console.example"}};
    QDir().mkpath(testPath("out"));
    for (int i = 0; i < 3; ++i)
    {
        request.m_sOutput = testPath(QStringLiteral("out/o%1.package").arg(i));
        QString message;
        QString written;
        EXPECT_TRUE(publisher.publish(request, message, written)) << message.toStdString();
        EXPECT_TRUE(QFileInfo::exists(request.m_sOutput));
    }
}
