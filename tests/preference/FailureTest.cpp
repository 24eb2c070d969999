// A change that stored nothing is reported as failed, never as success.
#include "tests/support/TestEnvironment.h"

#include <preference/LegacyPlistStore.h>
#include <preference/PlistStore.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Preference::LegacyPlistStore;
using Preference::PlistStore;

namespace
{

Preference::CFStringPtr CFString(const std::string& text)
{
    return Preference::CFStringPtr(
        CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

std::wstring Text(Preference::PreferenceBase& store, const std::wstring& key,
                  const std::wstring& name)
{
    std::wstring value;
    return store.Read(key, name, value, L"<absent>") ? value : L"<absent>";
}

fs::path UserPreferences()
{
    return fs::path(std::getenv("CFFIXED_USER_HOME")) / ".config" / "Preferences";
}

} // namespace

TEST(Failures, UnwritableAnyUserDomainFailsWritesAndTestWrite)
{
    // Root ignores permissions: a regular file where the folder would be stops it.
    const fs::path blocker = fs::path(TestSupport::testDirectory()) / "blocker";
    std::ofstream(blocker) << "x";
    setenv("TESSARY_ANY_USER_PREFERENCES", (blocker / "Preferences").c_str(), 1);
    PlistStore store(CFSTR("com.ombrel.settings"), kCFPreferencesAnyUser,
                     kCFPreferencesCurrentHost);
    EXPECT_FALSE(store.TestWrite(L"Software/Ombrel"));
    EXPECT_FALSE(store.Write(L"Software/Ombrel", L"Name", L"lost"));
    EXPECT_FALSE(store.Write(L"Software/Ombrel", L"Number", 3));
    EXPECT_FALSE(store.DeleteKey(L"Software"));
}

TEST(Failures, DirectoryWhereTheFileBelongsFailsWrites)
{
    fs::create_directories(UserPreferences() / "com.ombrel.Blocked.plist");
    PlistStore store(CFSTR("com.ombrel.Blocked"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_FALSE(store.Write(L"A", L"b", L"c"));

    const fs::path directory = fs::path(TestSupport::testDirectory()) / "legacy-blocked";
    fs::create_directories(directory / "com.ombrel.legacy.plist");
    LegacyPlistStore legacy(CFString(directory.string()).get(), CFSTR("com.ombrel.legacy"));
    EXPECT_FALSE(legacy.Write(L"A", L"b", L"c"));
}

TEST(Failures, TextThePropertyListCannotHoldIsRefused)
{
    PlistStore store(CFSTR("com.ombrel.Control"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    ASSERT_TRUE(store.Write(L"A", L"kept", L"fine\ttext\n"));
    EXPECT_FALSE(store.Write(L"A", L"bell", std::wstring(L"ring\x07now")));
    EXPECT_FALSE(store.Write(L"A", std::wstring(L"na\x01me"), L"x"));
    PlistStore again(CFSTR("com.ombrel.Control"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(L"fine\ttext\n", Text(again, L"A", L"kept"));
    EXPECT_EQ(L"<absent>", Text(again, L"A", L"bell"));

    const fs::path directory = fs::path(TestSupport::testDirectory()) / "legacy-control";
    fs::create_directories(directory);
    LegacyPlistStore legacy(CFString(directory.string()).get(), CFSTR("com.ombrel.legacy"));
    ASSERT_TRUE(legacy.Write(L"A", L"kept", L"fine"));
    EXPECT_FALSE(legacy.Write(L"A", L"bell", std::wstring(L"ring\x07now")));
    EXPECT_EQ(L"fine", Text(legacy, L"A", L"kept"));
}

TEST(Failures, AFullDiskFailsTheWriteAndKeepsTheOldValues)
{
    const fs::path directory = fs::path(TestSupport::testDirectory()) / "legacy-full";
    fs::create_directories(directory);
    {
        PlistStore store(CFSTR("com.ombrel.Full"), kCFPreferencesCurrentUser,
                         kCFPreferencesAnyHost);
        ASSERT_TRUE(store.Write(L"Kept", L"marker", L"old"));
        LegacyPlistStore legacy(CFString(directory.string()).get(), CFSTR("com.ombrel.legacy"));
        ASSERT_TRUE(legacy.Write(L"Kept", L"marker", L"old"));
    }
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        // Room for the small files, none for a much larger one.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        PlistStore store(CFSTR("com.ombrel.Full"), kCFPreferencesCurrentUser,
                         kCFPreferencesAnyHost);
        LegacyPlistStore legacy(CFString(directory.string()).get(), CFSTR("com.ombrel.legacy"));
        const std::wstring big(20000, L'n');
        _exit((store.Write(L"Kept", L"marker", big) ? 1 : 0) +
              (legacy.Write(L"Kept", L"marker", big) ? 2 : 0));
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "1: PlistStore, 2: LegacyPlistStore said it wrote";
    PlistStore store(CFSTR("com.ombrel.Full"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(L"old", Text(store, L"Kept", L"marker"));
    LegacyPlistStore legacy(CFString(directory.string()).get(), CFSTR("com.ombrel.legacy"));
    EXPECT_EQ(L"old", Text(legacy, L"Kept", L"marker"));
}

namespace
{
// plistlib writes 16 entries below "Software" and re-encodes the document.
void WriteForeignDomain(const fs::path& path, const std::string& encoding)
{
    fs::create_directories(path.parent_path());
    const TestSupport::ProgramResult written = TestSupport::runProgram(
        "python3", {"-c",
                    "import plistlib, sys\n"
                    "d = {'Software': {'Entry%d' % i: 'caf\\u00e9 %d' % i for i in range(16)}}\n"
                    "x = plistlib.dumps(d).decode()\n"
                    "e = sys.argv[2]\n"
                    "u = x.replace('UTF-8', 'UTF-16')\n"
                    "data = {'bom': b'\\xef\\xbb\\xbf' + x.encode(),\n"
                    "        'utf-16-le': b'\\xff\\xfe' + u.encode('utf-16-le'),\n"
                    "        'utf-16-be': b'\\xfe\\xff' + u.encode('utf-16-be')}[e]\n"
                    "assert plistlib.loads(data) == d\n"
                    "open(sys.argv[1], 'wb').write(data)\n",
                    path.string(), encoding});
    ASSERT_EQ(written.status, 0) << written.err;
}

// How many of the 16 entries plistlib still finds, and the value written beside them.
std::string ForeignEntriesKept(const fs::path& path)
{
    const TestSupport::ProgramResult kept = TestSupport::runProgram(
        "python3", {"-c",
                    "import plistlib, sys\n"
                    "s = plistlib.load(open(sys.argv[1], 'rb'))['Software']\n"
                    "print(sum(k.startswith('Entry') for k in s), s.get('Mine'))\n",
                    path.string()});
    return kept.status == 0 ? kept.out : "plistlib failed: " + kept.err;
}
} // namespace

TEST(Failures, DomainsOtherToolsWroteInOtherEncodingsKeepEveryEntry)
{
    const fs::path legacyDirectory = fs::path(TestSupport::testDirectory()) / "legacy-encoded";
    for (const std::string encoding : {"bom", "utf-16-le", "utf-16-be"})
    {
        SCOPED_TRACE(encoding);
        const std::string id = "com.ombrel.Encoded-" + encoding;
        const fs::path domain = UserPreferences() / (id + ".plist");
        WriteForeignDomain(domain, encoding);
        PlistStore store(CFString(id).get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
        EXPECT_EQ(L"caf\u00e9 15", Text(store, L"Software", L"Entry15"));
        EXPECT_TRUE(store.Write(L"Software", L"Mine", L"1"));
        EXPECT_EQ("16 1\n", ForeignEntriesKept(domain));

        const fs::path file = legacyDirectory / (id + ".plist");
        WriteForeignDomain(file, encoding);
        LegacyPlistStore legacy(CFString(legacyDirectory.string()).get(), CFString(id).get());
        EXPECT_EQ(L"caf\u00e9 15", Text(legacy, L"Software", L"Entry15"));
        EXPECT_TRUE(legacy.Write(L"Software", L"Mine", L"1"));
        EXPECT_EQ("16 1\n", ForeignEntriesKept(file));
    }
}

TEST(Failures, FilesThatCannotBeReadRefuseChangesAndStayAsTheyAre)
{
    const fs::path legacyDirectory = fs::path(TestSupport::testDirectory()) / "legacy-damaged";
    fs::create_directories(legacyDirectory);
    fs::create_directories(UserPreferences());
    int n = 0;
    for (const std::string& garbage :
         {std::string("<?xml version=\"1.0\"?><plist><dict><key>Software</key>"),
          std::string("bplist00\x01\x02garbage", 17), std::string("not a property list"),
          std::string("<plist version=\"1.0\"><array/></plist>")})
    {
        SCOPED_TRACE(garbage);
        const std::string id = "com.ombrel.Damaged" + std::to_string(n++);
        const fs::path domain = UserPreferences() / (id + ".plist");
        TestSupport::writeFile(domain.string(), garbage);
        PlistStore store(CFString(id).get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
        EXPECT_EQ(L"<absent>", Text(store, L"Software", L"A"));
        EXPECT_FALSE(store.Write(L"Software", L"A", L"b"));
        {
            // Under the caller's own lock the change is refused at once.
            const auto lock = store.GetScopedLock();
            EXPECT_FALSE(store.Write(L"Software", L"A", L"b"));
            EXPECT_FALSE(store.DeleteKey(L"Software"));
        }
        EXPECT_EQ(garbage, TestSupport::readFile(domain.string()));

        const fs::path file = legacyDirectory / (id + ".plist");
        TestSupport::writeFile(file.string(), garbage);
        LegacyPlistStore legacy(CFString(legacyDirectory.string()).get(), CFString(id).get());
        EXPECT_EQ(L"<absent>", Text(legacy, L"Software", L"A"));
        EXPECT_FALSE(legacy.Write(L"Software", L"A", L"b"));
        EXPECT_FALSE(legacy.DeleteKey(L"Software"));
        EXPECT_EQ(garbage, TestSupport::readFile(file.string()));
    }

    // An empty file holds nothing to lose: both stores write into it.
    const fs::path empty = UserPreferences() / "com.ombrel.Empty.plist";
    TestSupport::writeFile(empty.string(), "");
    PlistStore store(CFSTR("com.ombrel.Empty"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_TRUE(store.Write(L"Software", L"A", L"b"));
    TestSupport::writeFile((legacyDirectory / "com.ombrel.Empty.plist").string(), "");
    LegacyPlistStore legacy(CFString(legacyDirectory.string()).get(), CFSTR("com.ombrel.Empty"));
    EXPECT_TRUE(legacy.Write(L"Software", L"A", L"b"));
    EXPECT_EQ(L"b", Text(legacy, L"Software", L"A"));
}
