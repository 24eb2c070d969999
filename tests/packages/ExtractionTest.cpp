#include "PackageTestSupport.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/Leftovers.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/TempDirectory.h"

#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace PackageTest;

namespace
{
class Extraction : public PackagesTest
{
protected:
    std::unique_ptr<CPackage> loadFlat(const QString& path)
    {
        return std::unique_ptr<CPackage>(CCopyFileThread::loadPackage(QFileInfo(path)));
    }
    QString sampleFlat() const { return samplePath(QStringLiteral("TessarySample.pkg")); }
    QString fakeTools() const { return testDir() + QStringLiteral("/fake-tools"); }
};
} // namespace

TEST_F(Extraction, FlatPackageTestNeedsLowerCaseSuffixAndSignature)
{
    EXPECT_TRUE(CMacFlatPackage::isFlatPackage(sampleFlat()));
    const QString dir = testDir() + QStringLiteral("/dir.pkg");
    QDir().mkpath(dir);
    EXPECT_FALSE(CMacFlatPackage::isFlatPackage(dir));
    writeFile(testDir() + QStringLiteral("/short.pkg"), "xar");
    EXPECT_FALSE(CMacFlatPackage::isFlatPackage(testDir() + QStringLiteral("/short.pkg")));
    writeFile(testDir() + QStringLiteral("/other.pkg"), "rax!and more");
    EXPECT_FALSE(CMacFlatPackage::isFlatPackage(testDir() + QStringLiteral("/other.pkg")));
    writeFile(testDir() + QStringLiteral("/upper.PKG"), "xar!and more");
    EXPECT_FALSE(CMacFlatPackage::isFlatPackage(testDir() + QStringLiteral("/upper.PKG")));
    EXPECT_FALSE(CMacFlatPackage::isFlatPackage(testDir() + QStringLiteral("/missing.pkg")));
}

TEST_F(Extraction, TempDirectoriesArePrivateAndRemovalStaysInside)
{
    const QString made = createTempDir();
    ASSERT_FALSE(made.isEmpty());
    // Named after this process, with eight random characters, so a later run can tell
    // whose it was.
    const QString prefix = tempRoot() + QStringLiteral("/Tessary-") +
                           QString::number(qint64(::getpid())) + QLatin1Char('-');
    EXPECT_TRUE(made.startsWith(prefix)) << made.toStdString();
    EXPECT_EQ(made.size(), prefix.size() + 8);
    struct stat status;
    ASSERT_EQ(::stat(QFile::encodeName(made).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    // A link inside the tree is removed, never followed.
    const QString outside = testDir() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/keep"), "keep");
    writeFile(made + QStringLiteral("/sub/.hidden"), "x");
    ASSERT_TRUE(QFile::link(outside, made + QStringLiteral("/sub/link")));
    ASSERT_TRUE(
        QFile::link(testDir() + QStringLiteral("/nothing"), made + QStringLiteral("/dangling")));
    EXPECT_TRUE(recursiveRemove(made));
    EXPECT_FALSE(QFileInfo::exists(made));
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep")), "keep");

    EXPECT_FALSE(recursiveRemove(QString()));
    EXPECT_FALSE(recursiveRemove(QStringLiteral("/")));
    EXPECT_FALSE(recursiveRemove(made));
    // A link given as the tree itself is not followed either.
    ASSERT_TRUE(QFile::link(outside, testDir() + QStringLiteral("/tree-link")));
    EXPECT_FALSE(recursiveRemove(testDir() + QStringLiteral("/tree-link")));
    EXPECT_EQ(readFile(outside + QStringLiteral("/keep")), "keep");
}

TEST_F(Extraction, ExpandFlattenAndCleanUp)
{
    QDir expanded(QStringLiteral("/unchanged"));
    ASSERT_TRUE(CMacFlatPackage::expand(sampleFlat(), expanded, [] { return false; }));
    EXPECT_TRUE(QFileInfo::exists(expanded.absoluteFilePath(QStringLiteral("Distribution"))));
    EXPECT_EQ(QFileInfo(expanded.absolutePath()).fileName(), QStringLiteral("pkg"));
    const QString out = testDir() + QStringLiteral("/again.pkg");
    EXPECT_TRUE(CMacFlatPackage::flatten(expanded, out, [] { return false; }));
    EXPECT_TRUE(CMacFlatPackage::isFlatPackage(out));
    EXPECT_TRUE(CMacFlatPackage::cleanTempDir(expanded));
    EXPECT_EQ(leftOvers(), QStringList());
    std::unique_ptr<CPackage> again = loadFlat(out);
    EXPECT_TRUE(again->isValid());

    // A failed expansion removes what it made and leaves the directory unset, and
    // cleaning an unset directory removes nothing.
    writeFile(testDir() + QStringLiteral("/junk.pkg"), "xar!junk");
    QDir unset;
    EXPECT_FALSE(CMacFlatPackage::expand(testDir() + QStringLiteral("/junk.pkg"), unset,
                                         [] { return false; }));
    EXPECT_EQ(unset, QDir());
    EXPECT_EQ(leftOvers(), QStringList());
    EXPECT_FALSE(CMacFlatPackage::cleanTempDir(unset));
    EXPECT_TRUE(QFileInfo::exists(testDir() + QStringLiteral("/junk.pkg")));
    EXPECT_FALSE(CMacFlatPackage::flatten(QDir(testDir() + QStringLiteral("/none")),
                                          testDir() + QStringLiteral("/none.pkg"),
                                          [] { return false; }));
}

TEST_F(Extraction, CanceledExpansionStopsAHangingTool)
{
    writeTool(fakeTools(), QStringLiteral("pkgutil"), "exec sleep 600");
    prependPath(fakeTools());
    QDir expanded;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(CMacFlatPackage::expand(sampleFlat(), expanded, [] { return true; }));
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(Extraction, FailingOrMissingToolsLeaveTheFlatPackageInvalid)
{
    for (const char* tool : {"xar", "gzip", "cpio"})
    {
        QDir(fakeTools()).removeRecursively();
        writeTool(fakeTools(), QLatin1String(tool), "exit 3");
        const QByteArray path = qgetenv("PATH");
        prependPath(fakeTools());
        std::unique_ptr<CPackage> package = loadFlat(sampleFlat());
        qputenv("PATH", path);
        ASSERT_NE(package, nullptr);
        EXPECT_FALSE(package->isValid()) << tool;
        EXPECT_FALSE(package->isValidButNotCustomizable()) << tool;
        EXPECT_EQ(leftOvers(), QStringList()) << tool;
    }
    // Failing "defaults" leaves the definition but no product or version.
    QDir(fakeTools()).removeRecursively();
    writeTool(fakeTools(), QStringLiteral("defaults"), "exit 1");
    prependPath(fakeTools());
    std::unique_ptr<CPackage> noInfo = loadFlat(sampleFlat());
    EXPECT_FALSE(noInfo->isValid());
    EXPECT_FALSE(noInfo->xml().isEmpty());
    EXPECT_TRUE(noInfo->product().isEmpty());

    for (const char* tool : {"xar", "gzip", "cpio", "defaults"})
    {
        qputenv("PATH", QFile::encodeName(toolsWithout({QLatin1String(tool)})));
        std::unique_ptr<CPackage> package = loadFlat(sampleFlat());
        EXPECT_FALSE(package->isValid()) << tool;
        EXPECT_EQ(leftOvers(), QStringList()) << tool;
        QDir(testDir() + QStringLiteral("/sparse-tools")).removeRecursively();
    }
}

TEST_F(Extraction, HangingToolIsStoppedAtItsLimit)
{
    writeTool(fakeTools(), QStringLiteral("xar"), "exec sleep 600");
    prependPath(fakeTools());
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<CPackage> package = loadFlat(sampleFlat());
    // The limit is 30 s; anything near twice that means the tool was waited for.
    EXPECT_LT(timer.elapsed(), 55000);
    EXPECT_FALSE(package->isValid());
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(Extraction, ScriptsThatAreNotACompressedArchiveGiveAnInvalidPackage)
{
    std::unique_ptr<CPackage> plain = loadFlat(
        makeFlatPackage(testDir() + QStringLiteral("/plain.pkg"), cpioOdc(validScriptsMembers())));
    EXPECT_FALSE(plain->isValid());
    std::unique_ptr<CPackage> garbage = loadFlat(
        makeFlatPackage(testDir() + QStringLiteral("/garbage.pkg"), gzip("not an archive")));
    EXPECT_FALSE(garbage->isValid());
    // A package without "Scripts" at the top level.
    const QString stage = testDir() + QStringLiteral("/noscripts");
    writeFile(stage + QStringLiteral("/Distribution"), "<x/>");
    const QString none = testDir() + QStringLiteral("/none.pkg");
    ASSERT_EQ(
        run(QStringLiteral("xar"), {QStringLiteral("-c"), QStringLiteral("-f"), none,
                                    QStringLiteral("-C"), stage, QStringLiteral("Distribution")}),
        0);
    EXPECT_FALSE(loadFlat(none)->isValid());
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(Extraction, HostileScriptsWriteNothingOutsideTheWorkDirectory)
{
    const QString outside = testDir() + QStringLiteral("/outside");
    QDir().mkpath(outside);
    const QByteArray absolute = QFile::encodeName(outside + QStringLiteral("/absolute"));
    const QList<QList<CpioMember>> attacks = {
        {{"../../x", 0100644, "dots"}},
        {{"../../../../../../../../" + QFile::encodeName(outside).mid(1) + "/dotted", 0100644,
          "dots"}},
        {{absolute, 0100644, "absolute"}},
        {{"link", 0120777, QFile::encodeName(outside)}, {"link/through", 0100644, "via link"}},
        {{"up", 0120777, "../../../../../../.."}, {"up/tmp/escaped", 0100644, "via link"}},
    };
    int index = 0;
    for (QList<CpioMember> members : attacks)
    {
        members = validScriptsMembers() + members;
        const QString path = makeFlatPackage(
            testDir() + QStringLiteral("/hostile%1.pkg").arg(index++), gzip(cpioOdc(members)));
        std::unique_ptr<CPackage> package = loadFlat(path);
        ASSERT_NE(package, nullptr);
        EXPECT_FALSE(package->isValid()) << index;
        EXPECT_EQ(leftOvers(), QStringList()) << index;
    }
    EXPECT_EQ(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
    EXPECT_FALSE(QFileInfo::exists(tempRoot() + QStringLiteral("/x")));
    EXPECT_FALSE(QFileInfo::exists(testDir() + QStringLiteral("/x")));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/escaped")));
}

TEST_F(Extraction, DiskImagesThatCannotBeAttachedAreInvalid)
{
    // An image asking for a license agreement is never attached.
    const QString calls = testDir() + QStringLiteral("/hdiutil-calls");
    const QByteArray real =
        QFile::encodeName(QString::fromStdString(TestSupport::toolsDirectory()));
    writeTool(fakeTools(), QStringLiteral("hdiutil"),
              "echo \"$1\" >> '" + QFile::encodeName(calls) +
                  "'\n"
                  "if [ \"$1\" = imageinfo ]; then\n"
                  "  echo '<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Properties"
                  "</key><dict><key>Software License Agreement</key><true/></dict></dict>"
                  "</plist>'\n  exit 0\nfi\nexec '" +
                  real + "/hdiutil' \"$@\"");
    prependPath(fakeTools());
    std::unique_ptr<CPackage> licensed(
        CCopyFileThread::loadPackage(QFileInfo(samplePath(QStringLiteral("TessarySample.dmg")))));
    auto* dmg = dynamic_cast<CDmgPackage*>(licensed.get());
    ASSERT_NE(dmg, nullptr);
    EXPECT_FALSE(dmg->isValid());
    EXPECT_FALSE(dmg->mount());
    EXPECT_EQ(readFile(calls), "imageinfo\nimageinfo\n");
    licensed.reset();
    EXPECT_EQ(leftOvers(), QStringList());

    // A failing or missing hdiutil, and an image that is no image.
    writeTool(fakeTools(), QStringLiteral("hdiutil"), "exit 1");
    EXPECT_FALSE(std::unique_ptr<CPackage>(CCopyFileThread::loadPackage(QFileInfo(
                                               samplePath(QStringLiteral("TessarySample.dmg")))))
                     ->isValid());
    QFile::remove(fakeTools() + QStringLiteral("/hdiutil"));
    qputenv("PATH", QFile::encodeName(toolsWithout({QStringLiteral("hdiutil")})));
    EXPECT_FALSE(std::unique_ptr<CPackage>(CCopyFileThread::loadPackage(QFileInfo(
                                               samplePath(QStringLiteral("TessarySample.dmg")))))
                     ->isValid());
    writeFile(testDir() + QStringLiteral("/junk.dmg"), "not an image");
    EXPECT_FALSE(std::unique_ptr<CPackage>(CCopyFileThread::loadPackage(
                                               QFileInfo(testDir() + QStringLiteral("/junk.dmg"))))
                     ->isValid());
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(Extraction, HangingHdiutilLeavesTheImageInvalidAndUnattached)
{
    writeTool(fakeTools(), QStringLiteral("hdiutil"), "exec sleep 600");
    prependPath(fakeTools());
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<CPackage> package(
        CCopyFileThread::loadPackage(QFileInfo(samplePath(QStringLiteral("TessarySample.dmg")))));
    EXPECT_LT(timer.elapsed(), 55000);
    auto* dmg = dynamic_cast<CDmgPackage*>(package.get());
    ASSERT_NE(dmg, nullptr);
    EXPECT_FALSE(dmg->isValid());
    EXPECT_FALSE(dmg->isMounted());
    package.reset();
    EXPECT_EQ(leftOvers(), QStringList());
}

TEST_F(Extraction, DiskImagesMadeByOtherToolsOpen)
{
    for (const char* program : {"7zz", "python3", "mkfs.vfat", "mcopy"})
        if (run(QStringLiteral("sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("command -v %1").arg(QLatin1String(program))}) != 0)
            GTEST_SKIP() << program << " is needed to make the image";
    // A FAT volume with the sample flat package and a read-me, wrapped as UDIF.
    const QString raw = testDir() + QStringLiteral("/fat.raw");
    const QString image = testDir() + QStringLiteral("/Vendor.dmg");
    writeFile(testDir() + QStringLiteral("/ReadMe.txt"), "Read me first.\n");
    ASSERT_EQ(run(QStringLiteral("mkfs.vfat"), {QStringLiteral("-C"), raw, QStringLiteral("4096")}),
              0);
    ASSERT_EQ(run(QStringLiteral("mcopy"),
                  {QStringLiteral("-i"), raw, sampleFlat(),
                   testDir() + QStringLiteral("/ReadMe.txt"), QStringLiteral("::/")}),
              0);
    ASSERT_EQ(run(QStringLiteral("python3"),
                  {QString::fromStdString(TestSupport::sourceDirectory()) +
                       QStringLiteral("/tests/tools/make-udif.py"),
                   raw, image, QStringLiteral("--chunks"), QStringLiteral("zlib")}),
              0);
    std::unique_ptr<CPackage> package(CCopyFileThread::loadPackage(QFileInfo(image)));
    auto* dmg = dynamic_cast<CDmgPackage*>(package.get());
    ASSERT_NE(dmg, nullptr);
    ASSERT_TRUE(dmg->isValid());
    std::unique_ptr<CPackage> sample = loadFlat(sampleFlat());
    EXPECT_EQ(dmg->product(), sample->product());
    EXPECT_EQ(dmg->xml(), sample->xml());

    // Mounted again for publishing, the package is there byte for byte beside the read-me.
    ASSERT_TRUE(dmg->mount());
    const QString onImage = dmg->subPackage()->file().absoluteFilePath();
    EXPECT_EQ(readFile(onImage), readFile(sampleFlat()));
    EXPECT_EQ(readFile(QFileInfo(onImage).absolutePath() + QStringLiteral("/ReadMe.txt")),
              "Read me first.\n");
    EXPECT_TRUE(dmg->unmount());
    package.reset();
    EXPECT_EQ(leftOvers(), QStringList());
}

// What a killed run left goes; what a running process, another user or another
// program has there stays, and a link goes as a link.
TEST_F(Extraction, OnlyLeftoversOfGoneRunsOfThisUserAreRemoved)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const QString gone = QString::number(qint64(child));
    const QString running = QString::number(qint64(::getpid()));
    const QString folder = testDir() + QStringLiteral("/work");
    const QString outside = testDir() + QStringLiteral("/outside");
    writeFile(outside + QStringLiteral("/keep"), "keep");
    writeFile(folder + QStringLiteral("/Tessary-") + gone + QStringLiteral("-abcdef/x/deep"), "x");
    writeFile(folder + QStringLiteral("/Tessary-values-") + gone + QStringLiteral("-abcdef.xml"),
              "values");
    writeFile(folder + QStringLiteral("/.Tessary-") + gone + QStringLiteral("-ABC123/Out.pkg"),
              "staged");
    writeFile(folder + QStringLiteral("/Tessary-") + running + QStringLiteral("-abcdef/mine"), "x");
    writeFile(folder + QStringLiteral("/Tessary-notes.txt"), "not ours");
    ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/Tessary-") + gone +
                                         QStringLiteral("-linked")));
    const QString foreign = folder + QStringLiteral("/Tessary-") + gone + QStringLiteral("-xyzxyz");
    writeFile(foreign + QStringLiteral("/theirs"), "theirs");
    const bool chowned =
        ::getuid() == 0 && ::lchown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0;

    EXPECT_EQ(CLeftovers::removeAbandoned(folder), chowned ? 4 : 5);
    QStringList expected{QStringLiteral("Tessary-") + running + QStringLiteral("-abcdef"),
                         QStringLiteral("Tessary-notes.txt")};
    if (chowned)
        expected << QFileInfo(foreign).fileName();
    expected.sort();
    QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                              QDir::NoDotAndDotDot);
    left.sort();
    if (!chowned)
        left.removeAll(QFileInfo(foreign).fileName());
    EXPECT_EQ(expected, left);
    EXPECT_TRUE(QFile::exists(outside + QStringLiteral("/keep")));
}
