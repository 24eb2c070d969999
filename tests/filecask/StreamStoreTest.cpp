#include "tests/support/TestEnvironment.h"

#include <filecask/Encoder.h>
#include <filecask/FileCask.h>
#include <filecask/SimpleFileCask.h>
#include <filecask/StdIStreamWrapper.h>
#include <filecask/StdOStreamWrapper.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Preference::FileCask;
using Preference::SimpleFileCask;

namespace
{
std::string number(unsigned int value)
{
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string byteString(const std::string& text)
{
    return number(static_cast<unsigned int>(text.size())) + text;
}

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

mode_t modeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// A record file as another implementation of the format writes it.
const std::string kThreeRecords = byteString("1.0.0.0") + number(3) + byteString("") +
                                  byteString("second") + byteString(std::string("\0\xff", 2));
} // namespace

TEST(StreamStore, NumbersAreStoredBigEndian)
{
    Preference::Encoder encoder;
    const Preference::Encoder::Bytes bytes = encoder.Encode(0x01020384u);
    EXPECT_EQ(bytes, (Preference::Encoder::Bytes{0x01, 0x02, 0x03, 0x84}));
    EXPECT_EQ(encoder.Decode(bytes), 0x01020384u);
    EXPECT_EQ(encoder.Decode(encoder.Encode(0xFFFFFFFFu)), 0xFFFFFFFFu);

    std::ostringstream out;
    Preference::StdOStreamWrapper writer(out);
    ASSERT_TRUE(writer.Write(std::string("ab")));
    EXPECT_EQ(out.str(), std::string("\0\0\0\2ab", 6));
    std::istringstream in(out.str());
    Preference::StdIStreamWrapper reader(in);
    std::string text;
    ASSERT_TRUE(reader.Read(text));
    EXPECT_EQ(text, "ab");
    unsigned int value = 7;
    EXPECT_FALSE(reader.Read(value)) << "reading past the end";
    EXPECT_EQ(value, 0u);
}

TEST(StreamStore, SaveWritesTheRecordFileByteForByteAndLoadReadsIt)
{
    FileCask cask(FileCask::PrivateAccess, L"records.bin");
    cask.SetData(2, std::string("\0\xff", 2));
    cask.SetData(1, "second");
    EXPECT_EQ(cask.GetCount(), 3u);
    EXPECT_EQ(cask.GetData(0), "");
    EXPECT_EQ(cask.GetData(9), "");
    ASSERT_TRUE(cask.TryLock(-1));
    ASSERT_TRUE(cask.Save());
    cask.UnLock();
    EXPECT_EQ(TestSupport::readFile("records.bin"), kThreeRecords);

    TestSupport::writeFile("foreign.bin", kThreeRecords);
    FileCask other(FileCask::PrivateAccess, L"foreign.bin");
    ASSERT_TRUE(other.Load());
    ASSERT_EQ(other.GetCount(), 3u);
    EXPECT_EQ(other.GetData(1), "second");
    EXPECT_EQ(other.GetData(2), std::string("\0\xff", 2));
}

TEST(StreamStore, DamagedFilesFailToLoadWithoutHarm)
{
    // Every cut of a valid file fails, and only the whole file loads.
    for (std::size_t length = 0; length <= kThreeRecords.size(); ++length)
    {
        TestSupport::writeFile("cut.bin", kThreeRecords.substr(0, length));
        FileCask cask(FileCask::PrivateAccess, L"cut.bin");
        EXPECT_EQ(cask.Load(), length == kThreeRecords.size()) << "cut at " << length;
        EXPECT_LE(cask.GetCount(), 3u);
    }

    const std::string damaged[] = {
        byteString("1.0.0.1") + number(0),                      // another version
        byteString("1.0.0") + number(0),                        // a shorter version
        byteString("1.0.0.0") + number(1) + number(50) + "abc", // a length past the end
        byteString("1.0.0.0") + number(1) + number(0xFFFFFFF0u),
        byteString("1.0.0.0") + number(0xFFFFFFFFu), // a count with no records behind it
        number(0xFFFFFFFFu) + "1.0.0.0",
    };
    for (const std::string& bytes : damaged)
    {
        TestSupport::writeFile("damaged.bin", bytes);
        FileCask cask(FileCask::PrivateAccess, L"damaged.bin");
        EXPECT_FALSE(cask.Load());
        EXPECT_EQ(cask.GetData(0), "");
    }

    FileCask missing(FileCask::PrivateAccess, L"missing.bin");
    EXPECT_FALSE(missing.Load());
    EXPECT_EQ(missing.GetCount(), 0u);
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(StreamStore, HugeLengthsDoNotReserveMemory)
{
    TestSupport::writeFile("huge.bin", byteString("1.0.0.0") + number(2) + number(0xFFFFFFF0u));
    ASSERT_LT(TestSupport::readFile("huge.bin").size(), 20u);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        // 512 MiB of address space: a load that believed the length would need 4 GiB.
        rlimit limit = {512u << 20, 512u << 20};
        setrlimit(RLIMIT_AS, &limit);
        try
        {
            FileCask cask(FileCask::PrivateAccess, L"huge.bin");
            _exit(cask.Load() ? 1 : 0);
        }
        catch (...)
        {
            _exit(2);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST(StreamStore, FailedWritesAreReportedAsFailedSaves)
{
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        // A file-size limit makes every write beyond 100 bytes fail.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        int result = 0;
        {
            FileCask cask(FileCask::PrivateAccess, L"limited.bin");
            SimpleFileCask simple(FileCask::PrivateAccess, L"limited-simple.bin");
            cask.SetData(0, std::string(5000, 'x'));
            simple.SetData(0, std::string(5000, 'x'));
            if (!cask.TryLock(-1) || !simple.TryLock(-1))
                result = 3;
            else
                result = (cask.Save() ? 1 : 0) + (simple.Save() ? 4 : 0);
        }
        _exit(result);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SimpleFileCask, HoldsTheWholeFileAsItsOnlyRecord)
{
    SimpleFileCask cask(FileCask::PrivateAccess, L"plain.xml");
    EXPECT_EQ(cask.GetCount(), 1u);
    EXPECT_FALSE(cask.Load()) << "no file yet";
    cask.SetData(3, "ignored");
    cask.SetData(0, std::string("<a/>\n\0z", 7));
    EXPECT_EQ(cask.GetData(3), "");
    ASSERT_TRUE(cask.TryLock(-1));
    ASSERT_TRUE(cask.Save());
    cask.UnLock();
    EXPECT_EQ(TestSupport::readFile("plain.xml"), std::string("<a/>\n\0z", 7));

    SimpleFileCask again(FileCask::PrivateAccess, L"plain.xml");
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.GetData(0), std::string("<a/>\n\0z", 7));
    TestSupport::writeFile("plain.xml", "");
    EXPECT_FALSE(again.Load());
    EXPECT_EQ(again.GetData(0), "");
}

TEST(FileCask, RelativePathsAreMadeAbsolute)
{
    FileCask cask(FileCask::PrivateAccess, L"sub/store.dat");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(cask.GetPreferenceFilePath(), wide(std::string(cwd) + "/sub/store.dat"));
    EXPECT_EQ(access("sub", F_OK), -1) << "nothing is touched before the first lock";
}

TEST(FileCask, FirstLockCreatesFileAndDirectoryWithTheRightsModes)
{
    const struct
    {
        FileCask::AccessRights rights;
        mode_t directory;
        mode_t file;
    } cases[] = {{FileCask::PrivateAccess, 0700, 0600},
                 {FileCask::SharedAccess, 01777, 0666},
                 {FileCask::PublicReadAccess, 0755, 0644}};
    int n = 0;
    for (const auto& c : cases)
    {
        const std::string dir = "rights" + std::to_string(n++);
        FileCask cask(c.rights, wide(dir + "/deeper/store.dat"));
        EXPECT_FALSE(cask.IsLocked());
        ASSERT_TRUE(cask.TryLock(-1));
        EXPECT_TRUE(cask.IsLocked());
        EXPECT_EQ(modeOf(dir + "/deeper"), c.directory);
        EXPECT_EQ(modeOf(dir + "/deeper/store.dat"), c.file);
        cask.UnLock();
        EXPECT_FALSE(cask.IsLocked());
    }
}

TEST(FileCask, CreatingTheFileKeepsAnExistingDirectoryAsItIs)
{
    ASSERT_EQ(mkdir("shared-dir", 0751), 0);
    ASSERT_EQ(chmod("shared-dir", 0751), 0);
    std::wstring path = L"shared-dir/./store.dat";
    ASSERT_TRUE(Preference::CreateFileAndSetPermissions(FileCask::SharedAccess, path));
    EXPECT_EQ(path, L"shared-dir/./store.dat");
    EXPECT_EQ(modeOf("shared-dir"), 0751u);
    EXPECT_EQ(modeOf("shared-dir/store.dat"), 0666u);
    // An existing file gets the mode of the rights asked for now.
    ASSERT_TRUE(Preference::CreateFileAndSetPermissions(FileCask::PrivateAccess,
                                                        std::wstring(L"shared-dir/store.dat")));
    EXPECT_EQ(modeOf("shared-dir/store.dat"), 0600u);

    TestSupport::writeFile("plain-file", "x");
    EXPECT_FALSE(Preference::CreateFileAndSetPermissions(
        FileCask::PrivateAccess, boost::filesystem::path("plain-file/below/store.dat")));
    FileCask blocked(FileCask::PrivateAccess, L"plain-file/store.dat");
    EXPECT_FALSE(blocked.TryLock(-1));
    EXPECT_FALSE(blocked.IsLocked());
}
