#include "PackageTestSupport.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/MacFlatPackage.h"

#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

using namespace PackageTest;
namespace fs = std::filesystem;

namespace
{
class HostileInput : public PackagesTest
{
protected:
    std::unique_ptr<CPackage> load(const QString& path)
    {
        return std::unique_ptr<CPackage>(CCopyFileThread::loadPackage(QFileInfo(path)));
    }
};

// Bytes the files below a directory take on the disk.
std::uint64_t diskBytes(const std::string& directory)
{
    std::uint64_t total = 0;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(directory, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
    {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) == 0)
            total += std::uint64_t(st.st_blocks) * 512;
    }
    return total;
}

// Watches a directory's size from another thread and keeps the largest seen.
class CGrowthWatch
{
public:
    explicit CGrowthWatch(const std::string& directory)
        : m_thread(
              [this, directory]
              {
                  while (!m_stop)
                  {
                      m_peak = std::max<std::uint64_t>(m_peak, diskBytes(directory));
                      std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  }
              })
    {
    }
    std::uint64_t stop()
    {
        m_stop = true;
        m_thread.join();
        return m_peak;
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_peak{0};
    std::thread m_thread;
};

long maxRssKb(int who)
{
    struct rusage usage;
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

// A gzip-compressed odc cpio archive whose AdminConfig.xml holds `size` blanks, written by a
// streaming Python writer so that the test never holds the expanded bytes.
QString makeBombScripts(const QString& path, qint64 size)
{
    const QString script = QStringLiteral(R"(
import sys, zlib
size = int(sys.argv[2])
def header(name, mode, length):
    name = name.encode() + b"\0"
    fields = [(0, 6), (1, 6), (mode, 6), (0, 6), (0, 6), (1, 6), (0, 6), (1767225600, 11),
              (len(name), 6), (length, 11)]
    return b"070707" + b"".join(b"%0*o" % (w, v) for v, w in fields) + name
info = (b'<?xml version="1.0"?><plist version="1.0"><dict><key>CFBundleName</key>'
        b'<string>Bomb</string><key>CFBundleShortVersionString</key><string>1.0</string>'
        b'</dict></plist>')
z = zlib.compressobj(9, zlib.DEFLATED, 31)
with open(sys.argv[1], "wb") as out:
    out.write(z.compress(header("Info.plist", 0o100644, len(info)) + info))
    out.write(z.compress(header("AdminConfig.xml", 0o100644, size)))
    block = b" " * (1 << 20)
    left = size
    while left > 0:
        out.write(z.compress(block[:min(left, len(block))]))
        left -= len(block)
    out.write(z.compress(header("TRAILER!!!", 0, 0)))
    out.write(z.flush())
)");
    EXPECT_EQ(
        run(QStringLiteral("python3"), {QStringLiteral("-c"), script, path, QString::number(size)}),
        0);
    return path;
}
} // namespace

TEST_F(HostileInput, PageDefinitionBombIsRefusedWithinBounds)
{
    // 1 GiB of page definition in a package of about 1 MB.
    const QString scripts =
        makeBombScripts(testDir() + QStringLiteral("/bomb.gz"), qint64(1) << 30);
    const QString package =
        makeFlatPackage(testDir() + QStringLiteral("/bomb.pkg"), readFile(scripts));
    ASSERT_LT(QFileInfo(package).size(), 2 * 1024 * 1024);

    const long rssBefore = maxRssKb(RUSAGE_SELF);
    CGrowthWatch watch(tempRoot().toStdString());
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<CPackage> loaded = load(package);
    const qint64 elapsed = timer.elapsed();
    const std::uint64_t peakTemp = watch.stop();
    const long rssGrowth = maxRssKb(RUSAGE_SELF) - rssBefore;
    std::cout << "bomb: " << elapsed << " ms, temporary folder peak " << peakTemp / 1024
              << " KiB, own peak memory growth " << rssGrowth << " KiB, largest tool "
              << maxRssKb(RUSAGE_CHILDREN) << " KiB\n";

    ASSERT_NE(loaded, nullptr);
    EXPECT_FALSE(loaded->isValid());
    EXPECT_TRUE(loaded->xml().isEmpty());
    // The user is told which file passed which limit.
    EXPECT_TRUE(loaded->problem().startsWith(package + QStringLiteral(": ")))
        << loaded->problem().toStdString();
    EXPECT_TRUE(loaded->problem().contains(QStringLiteral("limit of 64 MiB")))
        << loaded->problem().toStdString();
    EXPECT_LT(elapsed, 10000);
    EXPECT_LT(peakTemp, std::uint64_t(100) << 20);
    EXPECT_LT(rssGrowth, 64 * 1024);
    EXPECT_LT(maxRssKb(RUSAGE_CHILDREN), 64 * 1024);
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(HostileInput, SpecialFilesAreRefusedAtOnce)
{
    // Each reader meets a FIFO where its file should be; none may wait for a writer.
    QElapsedTimer timer;
    timer.start();
    const QString fifoPkg = testDir() + QStringLiteral("/fifo.pkg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifoPkg).constData(), 0644), 0);
    EXPECT_FALSE(CMacFlatPackage::isFlatPackage(fifoPkg));
    for (const char* name : {"/fifo.xml", "/fifo.package"})
    {
        const QString fifo = testDir() + QLatin1String(name);
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        EXPECT_FALSE(load(fifo)->isValid()) << name;
    }

    QList<CpioMember> fifoInfo = validScriptsMembers();
    fifoInfo[0] = {"Info.plist", 010644, QByteArray()};
    QList<CpioMember> fifoConfig = validScriptsMembers();
    fifoConfig[1] = {"AdminConfig.xml", 010644, QByteArray()};
    QList<CpioMember> linkedConfig = validScriptsMembers();
    linkedConfig[1] = {"AdminConfig.xml", 0120777, "real.xml"};
    linkedConfig.append({"real.xml", 0100644, "<AdminConfig version=\"1.8\"/>\n"});
    int index = 0;
    for (const QList<CpioMember>& members : {fifoInfo, fifoConfig, linkedConfig})
    {
        std::unique_ptr<CPackage> package = load(makeFlatPackage(
            testDir() + QStringLiteral("/special%1.pkg").arg(index++), gzip(cpioOdc(members))));
        EXPECT_FALSE(package->isValid()) << index;
    }

    // A bundle whose Info.plist and page definition are FIFOs, then devices.
    const QString bundle = testDir() + QStringLiteral("/Special.pkg");
    QDir().mkpath(bundle + QStringLiteral("/Contents/Resources"));
    const QByteArray info = QFile::encodeName(bundle + QStringLiteral("/Contents/Info.plist"));
    const QByteArray config =
        QFile::encodeName(bundle + QStringLiteral("/Contents/Resources/AdminConfig.xml"));
    writeFile(QFile::decodeName(config), "<AdminConfig version=\"1.8\"/>\n");
    ASSERT_EQ(::mkfifo(info.constData(), 0644), 0);
    std::unique_ptr<CPackage> fifoBundle = load(bundle);
    EXPECT_FALSE(fifoBundle->isValid());
    EXPECT_TRUE(fifoBundle->product().isEmpty());
    ::unlink(config.constData());
    ASSERT_EQ(::mkfifo(config.constData(), 0644), 0);
    EXPECT_FALSE(load(bundle)->isValid());
    EXPECT_LT(timer.elapsed(), 10000);

    // /dev/zero never ends: read whole, it would take all memory.
    ::unlink(config.constData());
    ::unlink(info.constData());
    if (::mknod(config.constData(), S_IFCHR | 0644, makedev(1, 5)) != 0)
        GTEST_SKIP() << "device nodes cannot be made here (needs root outside a restricted "
                        "container)";
    ASSERT_EQ(::symlink("/dev/zero", info.constData()), 0);
    const long rssBefore = maxRssKb(RUSAGE_SELF);
    timer.restart();
    EXPECT_FALSE(load(bundle)->isValid());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_LT(maxRssKb(RUSAGE_SELF) - rssBefore, 16 * 1024);
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(HostileInput, PathsLongerThanPathMaxLeaveNoWorkFolder)
{
    // 26 levels of 200 characters: more than PATH_MAX (4096) below the work folder.
    QByteArray deep;
    for (int i = 0; i < 26; ++i)
        deep += QByteArray(200, char('a' + i)) + '/';
    QList<CpioMember> members = validScriptsMembers();
    members.append({deep + "file", 0100644, "deep"});
    const QString package =
        makeFlatPackage(testDir() + QStringLiteral("/deep.pkg"), gzip(cpioOdc(members)));

    // Reading.
    std::unique_ptr<CPackage> loaded = load(package);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(leftOvers(), QStringList());

    // Publishing: expanding, flattening and cleaning up, whatever succeeds.
    QDir expanded;
    if (CMacFlatPackage::expand(package, expanded, [] { return false; }))
    {
        CMacFlatPackage::flatten(expanded, testDir() + QStringLiteral("/out.pkg"),
                                 [] { return false; });
        EXPECT_TRUE(CMacFlatPackage::cleanTempDir(expanded));
    }
    EXPECT_EQ(leftOvers(), QStringList());
    EXPECT_TRUE(QDir(tempRoot())
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                    .isEmpty());
}
