#include "PackageTestSupport.h"

#include "app/packages/PackagerThread.h"

#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

using namespace PackageTest;

namespace
{
struct Property
{
    QString name;
    QString value;
};

class Packager : public PackagesTest
{
protected:
    QString sample() const { return samplePath(QStringLiteral("TessarySample.package")); }

    // Writes a customized copy and waits for the packager's thread to end.
    void customize(const QString& src, const QString& dst, const QList<Property>& properties)
    {
        packager.clearProperties();
        for (const Property& property : properties)
            packager.addProperty(property.name, property.value);
        packager.writePackage(src, dst);
        ASSERT_TRUE(packager.wait(120000));
    }

    // Runs the installer with bash into a fresh directory; its exit code.
    int install(const QString& script, const QString& prefix)
    {
        return run(QStringLiteral("bash"),
                   {script, QStringLiteral("--prefix"), prefix, QStringLiteral("--no-service")});
    }

    static QByteArray stubOf(const QByteArray& script)
    {
        const int end = script.indexOf("## END OF STUB\n");
        return end < 0 ? QByteArray() : script.left(end + 15);
    }

    CPackagerThread packager;
    QSignalSpy openErrors{&packager, &CPackagerThread::openFileError};
    QSignalSpy readErrors{&packager, &CPackagerThread::fileReadError};
    QSignalSpy writeErrors{&packager, &CPackagerThread::fileWriteError};
    QSignalSpy progress{&packager, &CPackagerThread::progress};
};
} // namespace

TEST_F(Packager, ReadsTheEmbeddedDefinitionAndHeader)
{
    QString name;
    QString version;
    const QByteArray xml = CPackagerThread::readPackageXml(sample(), name, version);
    EXPECT_EQ(name, QStringLiteral("Ombrel Sentinel"));
    EXPECT_EQ(version, QStringLiteral("4.2.1"));
    QByteArray definition = readFile(QString::fromStdString(TestSupport::sourceDirectory()) +
                                     "/examples/AdminConfig.xml");
    if (!definition.endsWith('\n'))
        definition += '\n';
    EXPECT_EQ(xml, definition);

    const QString bare = testDir() + QStringLiteral("/bare.package");
    // Header values keep their last character when the file ends without a line feed.
    writeFile(bare, "#!/bin/sh\n# softwareversion 2.0\r\n# DisplayName en Bare");
    name.clear();
    version.clear();
    EXPECT_TRUE(CPackagerThread::readPackageXml(bare, name, version).isEmpty());
    EXPECT_EQ(name, QStringLiteral("Bare"));
    EXPECT_EQ(version, QStringLiteral("2.0"));
    QString untouched = QStringLiteral("kept");
    EXPECT_TRUE(CPackagerThread::readPackageXml(testDir() + QStringLiteral("/missing"), untouched,
                                                untouched)
                    .isEmpty());
    EXPECT_EQ(untouched, QStringLiteral("kept"));
}

TEST_F(Packager, CustomizedCopyInstallsWithItsSettingsEvenWhenCustomizedTwice)
{
    const QString once = testDir() + QStringLiteral("/once.package");
    customize(sample(), once,
              {{QStringLiteral("SENTINEL_SERVER"), QStringLiteral("it's \"here\" $HOME")},
               {QStringLiteral("SENTINEL_NOTE"), QStringLiteral("first line\nsecond line")},
               {QStringLiteral("TS_MODIFICATION"), QStringLiteral("1")}});
    EXPECT_EQ(openErrors.count() + readErrors.count() + writeErrors.count(), 0);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toLongLong(), QFileInfo(sample()).size());

    const QByteArray original = readFile(sample());
    const QByteArray customized = readFile(once);
    EXPECT_EQ(customized.mid(stubOf(customized).size()), original.mid(stubOf(original).size()));
    EXPECT_TRUE(customized.contains("export SENTINEL_SERVER='it'\"'\"'s \"here\" $HOME'\n"));

    const QString prefix = testDir() + QStringLiteral("/installed");
    ASSERT_EQ(install(once, prefix), 0);
    EXPECT_TRUE(QFileInfo::exists(prefix + QStringLiteral("/bin/sentinel-agent")));
    const QByteArray managed = readFile(prefix + QStringLiteral("/etc/sentinel-managed.conf"));
    EXPECT_TRUE(managed.contains("server = it's \"here\" $HOME\n")) << managed.constData();
    EXPECT_TRUE(managed.contains("note = first line\nsecond line\n")) << managed.constData();

    // Customizing the customized copy replaces its block rather than adding one.
    const QString twice = testDir() + QStringLiteral("/twice.package");
    customize(once, twice,
              {{QStringLiteral("SENTINEL_SERVER"), QStringLiteral("second")},
               {QStringLiteral("TS_MODIFICATION"), QStringLiteral("1")}});
    const QByteArray again = readFile(twice);
    EXPECT_EQ(again.count("## BEGIN KORVA CUSTOMIZATION"), 1);
    EXPECT_EQ(again.count("## END KORVA CUSTOMIZATION"), 1);
    EXPECT_FALSE(again.contains("SENTINEL_NOTE"));
    const QByteArray stub = stubOf(again);
    EXPECT_TRUE(stub.contains("skip_lines=\"" + QByteArray::number(stub.count('\n')) + "\"\n"));
    EXPECT_EQ(again.mid(stub.size()), original.mid(stubOf(original).size()));

    const QString prefix2 = testDir() + QStringLiteral("/installed2");
    ASSERT_EQ(install(twice, prefix2), 0);
    EXPECT_TRUE(readFile(prefix2 + QStringLiteral("/etc/sentinel-managed.conf"))
                    .contains("server = second\n"));
}

TEST_F(Packager, MarkersMatchIgnoringCaseAndThePayloadIsCopiedExactly)
{
    static const char raw[] = "## END OF HEADER\nskip_lines=\"1\"\n## BEGIN KORVA CUSTOMIZATION\n"
                              "\x00\xff\x01 binary\n";
    const QByteArray payload(raw, int(sizeof(raw) - 1));
    const QString src = testDir() + QStringLiteral("/lower.package");
    writeFile(src, QByteArray(
                       "#!/bin/sh\nSKIP_LINES=\"7\"\n## begin korva customization\nexport OLD='1'\n"
                       "## End Korva Customization\n## end of header\n## end of stub\n") +
                       payload);
    const QString dst = testDir() + QStringLiteral("/lower-out.package");
    customize(src, dst, {{QStringLiteral("NEW"), QStringLiteral("2")}});
    EXPECT_EQ(readFile(dst),
              QByteArray("#!/bin/sh\nskip_lines=\"7\"\n## BEGIN KORVA CUSTOMIZATION\n"
                         "export NEW='2'\n## END KORVA CUSTOMIZATION\n## end of header\n"
                         "## end of stub\n") +
                  payload);

    const QString noNumber = testDir() + QStringLiteral("/nonumber.package");
    writeFile(noNumber, "skip_lines=\"many\"\n## END OF HEADER\n## END OF STUB\n");
    customize(noNumber, dst, {});
    EXPECT_EQ(readFile(dst), "skip_lines=\"2\"\n## BEGIN KORVA CUSTOMIZATION\n"
                             "## END KORVA CUSTOMIZATION\n## END OF HEADER\n## END OF STUB\n");
}

TEST_F(Packager, OpenAndWriteFailuresAreReportedWithTheFileThatFailed)
{
    const QString missing = testDir() + QStringLiteral("/missing.package");
    const QString dst = testDir() + QStringLiteral("/out.package");
    customize(missing, dst, {});
    ASSERT_EQ(openErrors.count(), 1);
    EXPECT_EQ(openErrors.takeFirst().at(0).toString(), missing);
    EXPECT_FALSE(QFileInfo::exists(dst));

    writeFile(testDir() + QStringLiteral("/plain"), "x");
    const QString below = testDir() + QStringLiteral("/plain/out.package");
    customize(sample(), below, {});
    ASSERT_EQ(openErrors.count(), 1);
    EXPECT_EQ(openErrors.takeFirst().at(0).toString(), below);

    customize(sample(), QStringLiteral("/dev/full"), {{QStringLiteral("A"), QStringLiteral("1")}});
    EXPECT_EQ(openErrors.count(), 0);
    ASSERT_FALSE(writeErrors.isEmpty());
    EXPECT_EQ(writeErrors.first().at(0).toString(), QStringLiteral("/dev/full"));
    // The copy goes on after a write failure, to the end of the source.
    EXPECT_EQ(progress.last().at(0).toLongLong(), QFileInfo(sample()).size());
    EXPECT_EQ(readErrors.count(), 0);
}
