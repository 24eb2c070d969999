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
