// The plist stores with real competing processes: writers killed at any
// instant, readers beside writers, and read-modify-write under the store lock.
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

#include <preference/LegacyPlistStore.h>
#include <preference/PlistStore.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

namespace fs = std::filesystem;

namespace
{

Preference::CFStringPtr CFString(const std::string& text)
{
    return Preference::CFStringPtr(
        CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

const char* const LegacyId = "com.ombrel.legacy";

class Concurrency : public testing::Test
{
protected:
    fs::path m_directory = fs::path(TestSupport::testDirectory()) / "legacy-concurrency";
    void SetUp() override { fs::create_directories(m_directory); }
    std::unique_ptr<Preference::LegacyPlistStore> Legacy()
    {
        return std::make_unique<Preference::LegacyPlistStore>(CFString(m_directory.string()).get(),
                                                              CFString(LegacyId).get());
    }
};

bool HasMarker(Preference::PreferenceBase& store)
{
    std::wstring value;
    return store.Read(L"Kept", L"marker", value, L"") && value == L"still here";
}

} // namespace

TEST_F(Concurrency, LegacyWritersKilledAtRandomInstantsNeverLoseTheFile)
{
    ASSERT_TRUE(Legacy()->Write(L"Kept", L"marker", L"still here"));
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> delay(0, 15000);
    int lost = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    for (int i = 0; i < 120 && std::chrono::steady_clock::now() < deadline; ++i)
    {
        {
            ChildProcess writer({helperProgram(), "churn", m_directory.string(), LegacyId});
            ASSERT_EQ("ready", writer.readLine());
            std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
            writer.kill(SIGKILL);
            writer.exitCode();
        }
        const auto reader = Legacy();
        if (!HasMarker(*reader))
        {
            // Put it back, so that every round counts on its own.
            ++lost;
            reader->Write(L"Kept", L"marker", L"still here");
        }
    }
    EXPECT_EQ(0, lost);
}

TEST_F(Concurrency, LegacyReadersBesideAWriterAlwaysSeeTheUnchangedValue)
{
    ASSERT_TRUE(Legacy()->Write(L"Kept", L"marker", L"still here"));
    ChildProcess writer({helperProgram(), "churn", m_directory.string(), LegacyId});
    ASSERT_EQ("ready", writer.readLine());
    const auto reader = Legacy();
    int torn = 0;
    for (int i = 0; i < 300; ++i)
        if (!HasMarker(*reader))
            ++torn;
    writer.kill(SIGKILL);
    writer.exitCode();
    EXPECT_EQ(0, torn) << "of 300 reads";
}

TEST_F(Concurrency, ProcessesIncrementingUnderTheStoreLockLoseNoUpdate)
{
    const int processes = 4;
    const int times = 40;
    const std::vector<std::vector<std::string>> kinds = {
        {"plist", "com.ombrel.Counter"}, {"legacy", m_directory.string(), LegacyId}};
    for (const auto& kind : kinds)
    {
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (int p = 0; p < processes; ++p)
        {
            std::vector<std::string> arguments = {helperProgram(), "add"};
            arguments.insert(arguments.end(), kind.begin(), kind.end());
            arguments.push_back(std::to_string(times));
            children.emplace_back(new ChildProcess(arguments));
        }
        for (auto& child : children)
            EXPECT_EQ(0, child->exitCode()) << kind[0] << ": 3 lock, 4 write failed";

        std::unique_ptr<Preference::PreferenceBase> store;
        if (kind[0] == "plist")
            store = std::make_unique<Preference::PlistStore>(
                CFSTR("com.ombrel.Counter"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
        else
            store = Legacy();
        int value = 0;
        EXPECT_TRUE(store->Read(L"Counter", L"value", value, 0));
        EXPECT_EQ(processes * times, value) << kind[0];
    }
}

TEST_F(Concurrency, ProcessesReloadingReadingAndWritingUnderOneLockEachCountEveryIncrement)
{
    // Lock, Reload, Read, Write, Unlock, 100 times in each of 4 processes, in
    // rounds; one lock attempt per increment, as a program makes it. A waiting
    // process gets its turn within the lock's second: nobody fails, nothing is lost.
    const int processes = 4;
    const int times = 100;
    for (int round = 0; round < 3; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string id = "com.ombrel.Reloading" + std::to_string(round);
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (int p = 0; p < processes; ++p)
            children.emplace_back(new ChildProcess(
                {helperProgram(), "add", "plist", id, std::to_string(times), "reload"}));
        for (auto& child : children)
            EXPECT_EQ(0, child->exitCode()) << "3: no lock, 4: write failed, 5: reload failed";
        Preference::PlistStore store(CFString(id).get(), kCFPreferencesCurrentUser,
                                     kCFPreferencesAnyHost);
        int value = 0;
        EXPECT_TRUE(store.Read(L"Counter", L"value", value, 0));
        EXPECT_EQ(processes * times, value);
    }
}
