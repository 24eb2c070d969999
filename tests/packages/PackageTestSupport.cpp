#include "PackageTestSupport.h"

#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace PackageTest
{

QString samplePath(const QString& name)
{
    return QStringLiteral(TESSARY_SAMPLES_DIR "/") + name;
}

QString testDir()
{
    return QString::fromStdString(TestSupport::testDirectory());
}

QString tempRoot()
{
    return testDir() + QStringLiteral("/tmp");
}

QStringList leftOvers()
{
    return QDir(tempRoot())
        .entryList({QStringLiteral("Tessary-*"), QStringLiteral("korva_ts.*")},
                   QDir::AllEntries | QDir::Hidden | QDir::System);
}

void prependPath(const QString& dir)
{
    qputenv("PATH", QFile::encodeName(dir) + ':' + qgetenv("PATH"));
}

void writeTool(const QString& dir, const QString& name, const QByteArray& body)
{
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString toolsWithout(const QStringList& missing)
{
    const QString dir = testDir() + QStringLiteral("/sparse-tools");
    QDir().mkpath(dir);
    const QString tools = QString::fromStdString(TestSupport::toolsDirectory());
    for (const QString& tool :
         {QStringLiteral("xar"), QStringLiteral("pkgutil"), QStringLiteral("cpio"),
          QStringLiteral("defaults"), QStringLiteral("hdiutil")})
        if (!missing.contains(tool))
            QFile::link(tools + QLatin1Char('/') + tool, dir + QLatin1Char('/') + tool);
    if (!missing.contains(QStringLiteral("gzip")))
        QFile::link(QStringLiteral("/bin/gzip"), dir + QStringLiteral("/gzip"));
    return dir;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size());
}

int run(const QString& program, const QStringList& arguments, const QString& workDir,
        QByteArray* output, const QByteArray& input)
{
    std::vector<std::string> lArguments;
    for (const QString& argument : arguments)
        lArguments.push_back(QFile::encodeName(argument).toStdString());
    const TestSupport::ProgramResult result =
        TestSupport::runProgram(QFile::encodeName(program).toStdString(), lArguments,
                                QFile::encodeName(workDir).toStdString(), input.toStdString());
    if (output)
        *output = QByteArray::fromStdString(result.out);
    else if (result.status != 0)
        std::fprintf(stderr, "%s%s", result.out.c_str(), result.err.c_str());
    return result.status;
}

namespace
{
QByteArray octal(qint64 value, int width)
{
    return QByteArray::number(value, 8).rightJustified(width, '0');
}

QByteArray odcHeader(const QByteArray& name, unsigned mode, qint64 size, int inode)
{
    return "070707" + octal(0, 6) + octal(inode, 6) + octal(mode, 6) + octal(0, 6) + octal(0, 6) +
           octal(1, 6) + octal(0, 6) + octal(1767225600, 11) + octal(name.size() + 1, 6) +
           octal(size, 11) + name + '\0';
}
} // namespace

QByteArray cpioOdc(const QList<CpioMember>& members)
{
    QByteArray archive;
    int inode = 1;
    for (const CpioMember& member : members)
        archive += odcHeader(member.name, member.mode, member.data.size(), inode++) + member.data;
    archive += odcHeader("TRAILER!!!", 0, 0, 0);
    return archive;
}

QByteArray gzip(const QByteArray& data)
{
    QByteArray compressed;
    EXPECT_EQ(run(QStringLiteral("gzip"), {QStringLiteral("-n"), QStringLiteral("-c")}, QString(),
                  &compressed, data),
              0);
    return compressed;
}

QString makeFlatPackage(const QString& path, const QByteArray& scripts)
{
    const QString stage = testDir() + QStringLiteral("/stage-") + QFileInfo(path).fileName();
    QDir(stage).removeRecursively();
    QDir().mkpath(stage);
    writeFile(stage + QStringLiteral("/Scripts"), scripts);
    QFile::remove(path);
    EXPECT_EQ(
        run(QStringLiteral("xar"),
            {QStringLiteral("-c"), QStringLiteral("-f"), path, QStringLiteral("-C"), stage,
             QStringLiteral("--compression"), QStringLiteral("none"), QStringLiteral("Scripts")}),
        0);
    return path;
}

QList<CpioMember> validScriptsMembers()
{
    const QByteArray info =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleName</key><string>Hostile Product</string>"
        "<key>CFBundleShortVersionString</key><string>1.2.3</string></dict></plist>\n";
    return {{"Info.plist", 0100644, info},
            {"AdminConfig.xml", 0100644, "<AdminConfig version=\"1.8\"/>\n"}};
}

void PackagesTest::SetUp()
{
    QDir().mkpath(tempRoot());
    qputenv("TMPDIR", QFile::encodeName(tempRoot()));
    prependPath(QString::fromStdString(TestSupport::toolsDirectory()));
}

} // namespace PackageTest
