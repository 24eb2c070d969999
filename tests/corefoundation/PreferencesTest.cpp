#include "tests/support/TestEnvironment.h"

#include <CoreFoundation/CoreFoundation.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
CFStringRef str(const std::string& text)
{
    return CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
}

std::string home()
{
    return TestSupport::testDirectory() + "/home";
}

std::string userFile(const std::string& app)
{
    return home() + "/.config/Preferences/" + app + ".plist";
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Python's plistlib reads the file and prints the value of key (repr), or fails.
std::string readWithPlistlib(const std::string& path, const std::string& key)
{
    std::string out;
    const int rc = TestSupport::runCommand("python3 -c 'import plistlib,sys; "
                                           "print(repr(plistlib.load(open(sys.argv[1],\"rb\"))"
                                           ".get(sys.argv[2])))' '" +
                                               path + "' '" + key + "'",
                                           &out);
    if (rc != 0)
        return "<plistlib failed>";
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string copyText(CFStringRef key, CFStringRef app, CFStringRef user, CFStringRef host)
{
    CFPropertyListRef value = CFPreferencesCopyValue(key, app, user, host);
    if (!value)
        return "<absent>";
    std::string text = "<not a string>";
    if (CFGetTypeID(value) == CFStringGetTypeID())
        text = CFStringGetCStringPtr(static_cast<CFStringRef>(value), kCFStringEncodingUTF8);
    CFRelease(value);
    return text;
}

std::string machineId()
{
    std::ifstream in("/etc/machine-id");
    std::string id;
    if (!(in >> id))
    {
        char name[256] = "";
        gethostname(name, sizeof name - 1);
        id = name;
    }
    return id;
}
} // namespace

TEST(CFPreferences, DomainsLiveInTheirOwnFiles)
{
    const CFStringRef app = CFSTR("com.example.Domains");
    CFPreferencesSetValue(CFSTR("k"), CFSTR("user"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSetValue(CFSTR("k"), CFSTR("all"), app, kCFPreferencesAnyUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSetValue(CFSTR("k"), CFSTR("host"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesCurrentHost);
    // Nothing reaches the disk before synchronizing.
    EXPECT_FALSE(exists(userFile("com.example.Domains")));
    EXPECT_EQ(copyText(CFSTR("k"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost), "user");
    EXPECT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesAnyUser, kCFPreferencesAnyHost));
    EXPECT_TRUE(
        CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost));

    EXPECT_EQ(readWithPlistlib(userFile("com.example.Domains"), "k"), "'user'");
    EXPECT_EQ(readWithPlistlib(TestSupport::testDirectory() +
                                   "/system-preferences/com.example.Domains.plist",
                               "k"),
              "'all'");
    EXPECT_EQ(readWithPlistlib(home() + "/.config/Preferences/ByHost/com.example.Domains." +
                                   machineId() + ".plist",
                               "k"),
              "'host'");
    struct stat st;
    ASSERT_EQ(stat(userFile("com.example.Domains").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "per-user settings are private";

    // The application search list prefers the current user's value.
    CFPropertyListRef appValue = CFPreferencesCopyAppValue(CFSTR("k"), app);
    EXPECT_TRUE(CFEqual(appValue, CFSTR("host")));
    CFRelease(appValue);

    // A NULL value removes the key.
    CFPreferencesSetValue(CFSTR("k"), nullptr, app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    EXPECT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(readWithPlistlib(userFile("com.example.Domains"), "k"), "None");
    EXPECT_EQ(copyText(CFSTR("k"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
              "<absent>");
}

TEST(CFPreferences, FixedUserHomeWinsOverXdgConfigHome)
{
    const std::string base = TestSupport::testDirectory();
    setenv("XDG_CONFIG_HOME", (base + "/xdg").c_str(), 1);
    setenv("CFFIXED_USER_HOME", (base + "/fixed").c_str(), 1);
    const CFStringRef app = CFSTR("com.example.Home");
    CFPreferencesSetValue(CFSTR("where"), CFSTR("fixed"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(readWithPlistlib(base + "/fixed/.config/Preferences/com.example.Home.plist", "where"),
              "'fixed'");

    unsetenv("CFFIXED_USER_HOME");
    CFPreferencesSetValue(CFSTR("where"), CFSTR("xdg"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(readWithPlistlib(base + "/xdg/Preferences/com.example.Home.plist", "where"), "'xdg'");

    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", (base + "/plain").c_str(), 1);
    CFPreferencesSetValue(CFSTR("where"), CFSTR("home"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(readWithPlistlib(base + "/plain/.config/Preferences/com.example.Home.plist", "where"),
              "'home'");
}

TEST(CFPreferences, SynchronizeMergesWithChangesMadeElsewhere)
{
    const CFStringRef app = CFSTR("com.example.Merge");
    const std::string path = userFile("com.example.Merge");
    CFPreferencesSetValue(CFSTR("old"), CFSTR("1"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSetValue(CFSTR("gone"), CFSTR("1"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));

    // Another program rewrites the file meanwhile.
    ASSERT_EQ(TestSupport::runCommand(
                  "python3 -c 'import plistlib,sys; plistlib.dump({\"old\": \"1\", \"gone\": \"1\","
                  " \"theirs\": 7}, open(sys.argv[1], \"wb\"))' '" +
                  path + "'"),
              0);
    CFPreferencesSetValue(CFSTR("mine"), CFSTR("2"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSetValue(CFSTR("gone"), nullptr, app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(readWithPlistlib(path, "theirs"), "7");
    EXPECT_EQ(readWithPlistlib(path, "mine"), "'2'");
    EXPECT_EQ(readWithPlistlib(path, "gone"), "None");
    CFPropertyListRef theirs = CFPreferencesCopyValue(
        CFSTR("theirs"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    ASSERT_NE(theirs, nullptr);
    int value = 0;
    EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(theirs), kCFNumberIntType, &value));
    EXPECT_EQ(value, 7);
    CFRelease(theirs);

    // Values are copied when set: later changes by the caller do not leak in.
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFPreferencesSetValue(CFSTR("dict"), dict, app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFDictionarySetValue(dict, CFSTR("later"), CFSTR("x"));
    CFPropertyListRef stored = CFPreferencesCopyValue(CFSTR("dict"), app, kCFPreferencesCurrentUser,
                                                      kCFPreferencesAnyHost);
    EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(stored)), 0);
    CFRelease(stored);
    CFRelease(dict);
}

TEST(CFPreferences, ConcurrentProcessesKeepEveryKey)
{
    const CFStringRef app = CFSTR("com.example.Shared");
    constexpr int kChildren = 6, kRounds = 15;
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c)
    {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
        {
            bool ok = true;
            for (int r = 0; r < kRounds; ++r)
            {
                CFStringRef key = str("child" + std::to_string(c) + "-" + std::to_string(r));
                CFPreferencesSetValue(key, key, app, kCFPreferencesCurrentUser,
                                      kCFPreferencesAnyHost);
                ok = CFPreferencesSynchronize(app, kCFPreferencesCurrentUser,
                                              kCFPreferencesAnyHost) &&
                     ok;
                CFRelease(key);
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    CFArrayRef keys =
        CFPreferencesCopyKeyList(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(CFArrayGetCount(keys), kChildren * kRounds);
    CFRelease(keys);
    EXPECT_EQ(readWithPlistlib(userFile("com.example.Shared"), "child5-14"), "'child5-14'");
}

TEST(CFPreferences, ThreadsOfOneProcessShareTheCache)
{
    const CFStringRef app = CFSTR("com.example.Threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [t, app]
            {
                for (int i = 0; i < 20; ++i)
                {
                    CFStringRef key = str("t" + std::to_string(t) + "-" + std::to_string(i));
                    CFPreferencesSetValue(key, kCFBooleanTrue, app, kCFPreferencesCurrentUser,
                                          kCFPreferencesAnyHost);
                    CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
                    CFRelease(CFPreferencesCopyValue(key, app, kCFPreferencesCurrentUser,
                                                     kCFPreferencesAnyHost));
                    CFRelease(key);
                }
            });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(readWithPlistlib(userFile("com.example.Threads"), "t3-19"), "True");
    EXPECT_EQ(readWithPlistlib(userFile("com.example.Threads"), "t0-0"), "True");
}

TEST(CFPreferences, FilesThatCannotBeReadAreNeverReplaced)
{
    const CFStringRef app = CFSTR("com.example.Damaged");
    const std::string path = userFile("com.example.Damaged");
    mkdir((home() + "/.config/Preferences").c_str(), 0700);
    for (const std::string& garbage :
         {std::string("<?xml version=\"1.0\"?><plist><dict><key>a</key>"),
          std::string("bplist00\x01\x02garbage", 17), std::string("damaged"),
          std::string("<plist version=\"1.0\"><string>not a dictionary</string></plist>")})
    {
        SCOPED_TRACE(garbage);
        writeText(path, garbage);
        EXPECT_FALSE(
            CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
        EXPECT_EQ(CFPreferencesCopyValue(CFSTR("a"), app, kCFPreferencesCurrentUser,
                                         kCFPreferencesAnyHost),
                  nullptr);
        CFPreferencesSetValue(CFSTR("fresh"), CFSTR("yes"), app, kCFPreferencesCurrentUser,
                              kCFPreferencesAnyHost);
        EXPECT_FALSE(
            CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
        EXPECT_EQ(TestSupport::readFile(path), garbage) << "the file was replaced";
    }
    EXPECT_FALSE(exists(path + ".damaged"));

    // Once the file reads again, the change still waiting is merged into it.
    writeText(path,
              "<plist version=\"1.0\"><dict><key>kept</key><string>1</string></dict></plist>");
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(readWithPlistlib(path, "fresh"), "'yes'");
    EXPECT_EQ(readWithPlistlib(path, "kept"), "'1'");

    // An empty file holds nothing to lose.
    writeText(path, "");
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    CFPreferencesSetValue(CFSTR("again"), CFSTR("yes"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(readWithPlistlib(path, "again"), "'yes'");
}

TEST(CFPreferences, DomainsWrittenByOtherToolsInOtherEncodingsKeepEveryEntry)
{
    const CFStringRef app = CFSTR("com.example.Encoded");
    const std::string path = userFile("com.example.Encoded");
    mkdir((home() + "/.config/Preferences").c_str(), 0700);
    for (const std::string encoding : {"bom", "utf-16-le", "utf-16-be"})
    {
        SCOPED_TRACE(encoding);
        const TestSupport::ProgramResult written = TestSupport::runProgram(
            "python3",
            {"-c",
             "import plistlib, sys\n"
             "x = plistlib.dumps({'Entry%d' % i: 'caf\\u00e9' for i in range(16)}).decode()\n"
             "e = sys.argv[2]\n"
             "data = b'\\xef\\xbb\\xbf' + x.encode() if e == 'bom' else "
             "x.replace('UTF-8', 'UTF-16').encode('utf-16')\n"
             "if e == 'utf-16-be': data = b'\\xfe\\xff' + x.replace('UTF-8', "
             "'UTF-16').encode(e)\n"
             "open(sys.argv[1], 'wb').write(data)\n",
             path, encoding});
        ASSERT_EQ(written.status, 0) << written.err;
        ASSERT_TRUE(
            CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
        EXPECT_EQ(copyText(CFSTR("Entry15"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
                  "caf\xC3\xA9");
        CFPreferencesSetValue(CFSTR("mine"), CFSTR("1"), app, kCFPreferencesCurrentUser,
                              kCFPreferencesAnyHost);
        ASSERT_TRUE(
            CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
        const TestSupport::ProgramResult kept = TestSupport::runProgram(
            "python3", {"-c",
                        "import plistlib, sys; d = plistlib.load(open(sys.argv[1], 'rb')); "
                        "print(sum(k.startswith('Entry') for k in d), d['mine'])",
                        path});
        EXPECT_EQ(kept.out, "16 1\n") << kept.err;
    }
}

TEST(CFPreferences, RefusesWhatItCannotStore)
{
    const CFStringRef app = CFSTR("com.example.Refuse");
    // Keys that are not strings make the value invalid for a property list.
    int32_t one = 1;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    const void* keys[] = {number};
    const void* values[] = {number};
    CFDictionaryRef bad = CFDictionaryCreate(
        nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFPreferencesSetValue(CFSTR("bad"), bad, app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(
        CFPreferencesCopyValue(CFSTR("bad"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost),
        nullptr);
    CFRelease(bad);
    CFRelease(number);

    // Application ids that would leave the preferences directory name no domain.
    CFPreferencesSetValue(CFSTR("k"), CFSTR("v"), CFSTR("../escape"), kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    EXPECT_FALSE(CFPreferencesSynchronize(CFSTR("../escape"), kCFPreferencesCurrentUser,
                                          kCFPreferencesAnyHost));
    EXPECT_FALSE(exists(home() + "/.config/escape.plist"));

    // A directory that cannot be created: Synchronize reports it and keeps the change.
    const std::string blocker = TestSupport::testDirectory() + "/blocker";
    writeText(blocker, "a regular file");
    setenv("TESSARY_ANY_USER_PREFERENCES", (blocker + "/Preferences").c_str(), 1);
    CFPreferencesSetValue(CFSTR("k"), CFSTR("v"), app, kCFPreferencesAnyUser,
                          kCFPreferencesAnyHost);
    EXPECT_FALSE(CFPreferencesSynchronize(app, kCFPreferencesAnyUser, kCFPreferencesAnyHost));
    EXPECT_EQ(copyText(CFSTR("k"), app, kCFPreferencesAnyUser, kCFPreferencesAnyHost), "v");
}

TEST(CFPreferences, KilledWriterLeavesAValidFileAndNoLock)
{
    const CFStringRef app = CFSTR("com.example.Killed");
    const std::string path = userFile("com.example.Killed");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
    {
        // Large values make each write long, so the kill likely lands mid-write.
        CFStringRef big = str(std::string(1 << 20, 'x'));
        for (int i = 0;; ++i)
        {
            CFStringRef key = str("k" + std::to_string(i % 8));
            CFPreferencesSetValue(key, big, app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
            CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
            CFRelease(key);
        }
    }
    while (!exists(path))
        usleep(1000);
    usleep(100000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);

    EXPECT_EQ(readWithPlistlib(path, "missing"), "None") << "the file stays a valid plist";
    // What a writer killed mid-write leaves behind: its temporary file.
    writeText(home() + "/.config/Preferences/.com.example.Killed.plist." + std::to_string(pid) +
                  ".0.1.tmp",
              "partial");
    CFPreferencesSetValue(CFSTR("after"), CFSTR("ok"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(readWithPlistlib(path, "after"), "'ok'");
    std::string leftovers;
    TestSupport::runCommand("ls -a '" + home() + "/.config/Preferences' | grep -c tmp", &leftovers);
    EXPECT_EQ(leftovers, "0\n") << "the dead writer's temporary file is cleaned up";
    CFPropertyListRef k0 =
        CFPreferencesCopyValue(CFSTR("k0"), app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    ASSERT_NE(k0, nullptr);
    EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(k0)), 1 << 20);
    CFRelease(k0);
}

TEST(CFPreferences, AppValuesFollowTheSearchList)
{
    const CFStringRef app = CFSTR("com.example.App");
    CFPreferencesSetValue(CFSTR("shared"), CFSTR("system"), app, kCFPreferencesAnyUser,
                          kCFPreferencesAnyHost);
    CFPreferencesSetValue(CFSTR("global"), CFSTR("YES"), kCFPreferencesAnyApplication,
                          kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    CFPreferencesSynchronize(app, kCFPreferencesAnyUser, kCFPreferencesAnyHost);
    CFPreferencesSynchronize(kCFPreferencesAnyApplication, kCFPreferencesCurrentUser,
                             kCFPreferencesAnyHost);
    EXPECT_TRUE(exists(userFile(".GlobalPreferences")));

    CFPropertyListRef shared = CFPreferencesCopyAppValue(CFSTR("shared"), app);
    EXPECT_TRUE(CFEqual(shared, CFSTR("system")));
    CFRelease(shared);
    CFPreferencesSetAppValue(CFSTR("shared"), CFSTR("mine"), app);
    EXPECT_TRUE(CFPreferencesAppSynchronize(app));
    EXPECT_EQ(readWithPlistlib(userFile("com.example.App"), "shared"), "'mine'");
    shared = CFPreferencesCopyAppValue(CFSTR("shared"), app);
    EXPECT_TRUE(CFEqual(shared, CFSTR("mine")));
    CFRelease(shared);

    Boolean valid = false;
    EXPECT_TRUE(CFPreferencesGetAppBooleanValue(CFSTR("global"), app, &valid));
    EXPECT_TRUE(valid);
    CFPreferencesSetAppValue(CFSTR("count"), CFSTR("42"), app);
    EXPECT_EQ(CFPreferencesGetAppIntegerValue(CFSTR("count"), app, &valid), 42);
    EXPECT_TRUE(valid);
    CFPreferencesSetAppValue(CFSTR("count"), CFSTR("4x"), app);
    EXPECT_EQ(CFPreferencesGetAppIntegerValue(CFSTR("count"), app, &valid), 0);
    EXPECT_FALSE(valid);
    EXPECT_FALSE(CFPreferencesGetAppBooleanValue(CFSTR("absent"), app, &valid));
    EXPECT_FALSE(valid);
}

TEST(CFPreferences, MultipleValuesPathsAndNamedHosts)
{
    const std::string absolute = TestSupport::testDirectory() + "/elsewhere/custom";
    CFStringRef app = str(absolute);
    const void* keys[] = {CFSTR("a"), CFSTR("b")};
    const void* values[] = {CFSTR("1"), CFSTR("2")};
    CFDictionaryRef set = CFDictionaryCreate(
        nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFPreferencesSetMultiple(set, nullptr, app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    CFArrayRef remove = CFArrayCreate(nullptr, keys, 1, &kCFTypeArrayCallBacks);
    CFPreferencesSetMultiple(nullptr, remove, app, kCFPreferencesCurrentUser,
                             kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(readWithPlistlib(absolute + ".plist", "b"), "'2'");
    EXPECT_EQ(readWithPlistlib(absolute + ".plist", "a"), "None");
    CFDictionaryRef all =
        CFPreferencesCopyMultiple(nullptr, app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(CFDictionaryGetCount(all), 1);
    CFRelease(all);

    CFPreferencesSetValue(CFSTR("h"), kCFBooleanTrue, CFSTR("com.example.Host"),
                          kCFPreferencesAnyUser, CFSTR("otherhost"));
    CFPreferencesSynchronize(CFSTR("com.example.Host"), kCFPreferencesAnyUser, CFSTR("otherhost"));
    EXPECT_EQ(readWithPlistlib(TestSupport::testDirectory() +
                                   "/system-preferences/ByHost/com.example.Host.otherhost.plist",
                               "h"),
              "True");

    // A string XML cannot hold is refused at once instead of blocking later writes.
    CFPreferencesSetValue(CFSTR("bell"), CFSTR("\a"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    EXPECT_EQ(CFPreferencesCopyValue(CFSTR("bell"), app, kCFPreferencesCurrentUser,
                                     kCFPreferencesAnyHost),
              nullptr);
    CFPreferencesSetValue(CFSTR("c"), CFSTR("3"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    EXPECT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    CFRelease(remove);
    CFRelease(set);
    CFRelease(app);
}

TEST(CFPreferences, SavingKeepsValuesOtherToolsWrote)
{
    const CFStringRef app = CFSTR("com.example.Foreign");
    const std::string path = userFile("com.example.Foreign");
    const std::string values =
        "{\"far\": datetime.datetime(4001, 1, 1), \"old\": "
        "datetime.datetime(1900, 1, 1), \"top\": 2**64 - 1, \"min\": -2**63}";
    ASSERT_EQ(TestSupport::runCommand("mkdir -p \"$(dirname '" + path +
                                      "')\" && python3 -c 'import plistlib, datetime; "
                                      "plistlib.dump(" +
                                      values + ", open(\"" + path + "\", \"wb\"))'"),
              0);
    CFPreferencesSetValue(CFSTR("mine"), CFSTR("2"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    EXPECT_EQ(TestSupport::runCommand("python3 -c 'import plistlib, datetime; d = "
                                      "plistlib.load(open(\"" +
                                      path +
                                      "\", \"rb\")); assert d.pop(\"mine\") == \"2\"; "
                                      "assert d == " +
                                      values + ", d'"),
              0);
}

TEST(CFPreferences, AUsersOwnLinkIsFollowedAndAPlantedOneRefused)
{
    // The user keeps the domain among dotfiles elsewhere and links it in.
    const CFStringRef app = CFSTR("com.example.Linked");
    const std::string link = userFile("com.example.Linked");
    const std::string target = TestSupport::testDirectory() + "/dotfiles/linked.plist";
    mkdir((home() + "/.config/Preferences").c_str(), 0700);
    mkdir((TestSupport::testDirectory() + "/dotfiles").c_str(), 0700);
    writeText(target,
              "<plist version=\"1.0\"><dict><key>old</key><string>1</string></dict></plist>");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    CFPreferencesSetValue(CFSTR("new"), CFSTR("2"), app, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    ASSERT_TRUE(CFPreferencesSynchronize(app, kCFPreferencesCurrentUser, kCFPreferencesAnyHost));
    struct stat status;
    ASSERT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(readWithPlistlib(target, "old"), "'1'");
    EXPECT_EQ(readWithPlistlib(target, "new"), "'2'");

    // A link in the shared folder that another user owns is neither read nor written through.
    const std::string shared = TestSupport::testDirectory() + "/system-preferences";
    mkdir(shared.c_str(), 01777);
    const std::string victim = TestSupport::testDirectory() + "/victim.plist";
    const std::string precious =
        "<plist version=\"1.0\"><dict><key>secret</key><string>s</string></dict></plist>";
    writeText(victim, precious);
    const std::string planted = shared + "/com.example.Planted.plist";
    ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
    if (lchown(planted.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    const CFStringRef other = CFSTR("com.example.Planted");
    EXPECT_EQ(copyText(CFSTR("secret"), other, kCFPreferencesAnyUser, kCFPreferencesAnyHost),
              "<absent>");
    CFPreferencesSetValue(CFSTR("k"), CFSTR("v"), other, kCFPreferencesAnyUser,
                          kCFPreferencesAnyHost);
    EXPECT_FALSE(CFPreferencesSynchronize(other, kCFPreferencesAnyUser, kCFPreferencesAnyHost));
    EXPECT_EQ(TestSupport::readFile(victim), precious);
    ASSERT_EQ(lstat(planted.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}
