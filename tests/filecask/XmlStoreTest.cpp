#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

#include <filecask/FileCask.h>
#include <filecask/SimpleFileCask.h>
#include <filecask/XmlStore.h>

#include <preference/Preference.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <tinyxml.h>
#include <unistd.h>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

using Preference::FileCask;
using Preference::SimpleFileCask;
using Preference::XmlStore;

namespace
{
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\" ?>";

std::string number(unsigned int value)
{
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                       static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string byteString(const std::string& text)
{
    return number(static_cast<unsigned int>(text.size())) + text;
}

std::string recordFile(const std::string& document)
{
    return byteString("1.0.0.0") + number(1) + byteString(document);
}

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::unique_ptr<XmlStore> storeOn(const std::string& path, int index = 0, bool pretty = false)
{
    return std::make_unique<XmlStore>(
        boost::make_shared<FileCask>(FileCask::PrivateAccess, wide(path)), index, pretty);
}

// The document of record index of the file, as another reader sees it.
std::string documentIn(const std::string& path, unsigned int index = 0)
{
    FileCask cask(FileCask::PrivateAccess, wide(path));
    if (!cask.Load())
        return "<unreadable>";
    return cask.GetData(index);
}
} // namespace

TEST(XmlStore, FirstWriteCreatesTheRecordFileWithTheDocumentAtItsIndex)
{
    auto store = storeOn("new/settings.dat", 2);
    ASSERT_TRUE(store->Write(L"Software\\Ombrel\\Tessary", L"LastOpenedDir", L"/srv/a&b\"<c>"));

    const std::string document =
        std::string(kDeclaration) +
        "<Root><Preferences><key name=\"Software\"><key name=\"Ombrel\"><key name=\"Tessary\">"
        "<value name=\"LastOpenedDir\" data='/srv/a&amp;b&quot;&lt;c&gt;' /></key></key></key>"
        "</Preferences></Root>";
    EXPECT_EQ(TestSupport::readFile("new/settings.dat"),
              byteString("1.0.0.0") + number(3) + number(0) + number(0) + byteString(document));

    auto again = storeOn("new/settings.dat", 2);
    std::wstring value;
    EXPECT_TRUE(again->Read(L"/Software//Ombrel/Tessary/", L"LastOpenedDir", value, L""));
    EXPECT_EQ(value, L"/srv/a&b\"<c>");
    EXPECT_EQ(again->GetStreamStore()->GetCount(), 3u);
}

TEST(XmlStore, SimpleFileHoldsExactlyThePrettyDocument)
{
    XmlStore store(boost::make_shared<SimpleFileCask>(FileCask::PrivateAccess, L"plain.xml"), 0,
                   true);
    ASSERT_TRUE(store.Write(L"A", L"n", 7));
    EXPECT_EQ(TestSupport::readFile("plain.xml"),
              std::string(kDeclaration) + "\n<Root>\n    <Preferences>\n        <key name=\"A\">\n"
                                          "            <value name=\"n\" data=\"7\" />\n"
                                          "        </key>\n    </Preferences>\n</Root>\n");
    int n = 0;
    XmlStore reader(boost::make_shared<SimpleFileCask>(FileCask::PrivateAccess, L"plain.xml"), 0,
                    false);
    EXPECT_TRUE(reader.Read(L"A", L"n", n, 0));
    EXPECT_EQ(n, 7);
}

TEST(XmlStore, KeysAndValuesKeepTheirOrderAndDeleteQuietly)
{
    auto store = storeOn("tree.dat");
    ASSERT_TRUE(store->Write(L"K/Sub", L"second", L"2"));
    ASSERT_TRUE(store->Write(L"K/Sub", L"first", L"1"));
    ASSERT_TRUE(store->Write(L"K/Other", L"x", L"3"));
    ASSERT_TRUE(store->Write(L"K", L"own", L"4"));
    ASSERT_TRUE(store->Write(L"K/Sub", L"second", L"22"));
    EXPECT_NE(documentIn("tree.dat")
                  .find("<key name=\"Sub\"><value name=\"second\" data=\"22\" />"
                        "<value name=\"first\" data=\"1\" /></key>"),
              std::string::npos);

    std::vector<std::wstring> names{L"kept"};
    store->ListKeys(L"K", names);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"kept", L"Sub", L"Other"}));
    names.clear();
    store->ListValues(L"\\K\\Sub", names);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"second", L"first"}));
    names.clear();
    store->ListKeys(L"Missing", names);
    EXPECT_TRUE(names.empty());

    std::wstring text;
    EXPECT_FALSE(store->Read(L"k/sub", L"first", text, L"dflt")) << "names regard case";
    EXPECT_EQ(text, L"dflt");

    const std::string before = documentIn("tree.dat");
    EXPECT_TRUE(store->DeleteKey(L"K/Missing"));
    EXPECT_TRUE(store->DeleteValue(L"K/Sub", L"missing"));
    EXPECT_TRUE(store->DeleteValue(L"No/Such", L"key"));
    EXPECT_EQ(documentIn("tree.dat"), before);
    EXPECT_FALSE(store->DeleteKey(L"//")) << "the whole tree is not a key";

    EXPECT_TRUE(store->DeleteValue(L"K/Sub", L"second"));
    EXPECT_TRUE(store->DeleteKey(L"K/Other"));
    auto reader = storeOn("tree.dat");
    names.clear();
    reader->ListKeys(L"K", names);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Sub"}));
    EXPECT_FALSE(reader->Read(L"K/Sub", L"second", text, L""));
    EXPECT_TRUE(reader->Read(L"K/Sub", L"first", text, L""));
    EXPECT_EQ(text, L"1");

    // Removed names can come back, in one lock, after what remained.
    {
        auto lock = store->GetScopedLock();
        ASSERT_TRUE(store->Write(L"K/Sub", L"second", L"again"));
        ASSERT_TRUE(store->Write(L"K/Other", L"x", L"back"));
        ASSERT_TRUE(store->DeleteKey(L"K/Sub"));
        ASSERT_TRUE(store->Write(L"K/Sub/Deeper", L"y", L"5"));
    }
    names.clear();
    ASSERT_TRUE(reader->Reload());
    reader->ListKeys(L"K", names);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Other", L"Sub"}));
    EXPECT_FALSE(reader->Read(L"K/Sub", L"first", text, L""));
    EXPECT_TRUE(reader->Read(L"K/Sub/Deeper", L"y", text, L""));
    EXPECT_TRUE(reader->Read(L"K/Other", L"x", text, L""));
    EXPECT_EQ(text, L"back");
}

TEST(XmlStore, ChangesInAScopedLockReachTheFileOnceAtItsEnd)
{
    auto store = storeOn("batch.dat");
    ASSERT_TRUE(store->Write(L"K", L"v", 0));
    {
        auto lock = store->GetScopedLock();
        ASSERT_TRUE(store->IsLocked());
        for (int i = 1; i <= 100; ++i)
            ASSERT_TRUE(store->Write(L"K", L"v", i));
        EXPECT_NE(documentIn("batch.dat").find("data=\"0\""), std::string::npos)
            << "written before the lock ended";
    }
    EXPECT_FALSE(store->IsLocked());
    EXPECT_NE(documentIn("batch.dat").find("data=\"100\""), std::string::npos);
}

TEST(XmlStore, AnotherStoresChangesAreSeenAfterItsReload)
{
    auto first = storeOn("shared.dat");
    auto second = storeOn("shared.dat");
    ASSERT_TRUE(first->Write(L"K", L"v", L"one"));
    std::wstring text;
    ASSERT_TRUE(second->Read(L"K", L"v", text, L""));
    ASSERT_TRUE(first->Write(L"K", L"v", L"two"));
    ASSERT_TRUE(second->Read(L"K", L"v", text, L""));
    EXPECT_EQ(text, L"one") << "unlocked reads see the last reload";
    {
        // Inside its lock a store reads what the file holds now.
        auto lock = second->GetScopedLock();
        ASSERT_TRUE(second->Read(L"K", L"v", text, L""));
        EXPECT_EQ(text, L"two");
    }
    ASSERT_TRUE(first->Write(L"K", L"v", L"three"));
    ASSERT_TRUE(second->Reload());
    ASSERT_TRUE(second->Read(L"K", L"v", text, L""));
    EXPECT_EQ(text, L"three");
}

TEST(XmlStore, FilesThatCannotBeReadAreNeverReplaced)
{
    const std::string valid = recordFile(std::string(kDeclaration) +
                                         "<Root><Preferences><key name=\"K\"><value name=\"v\" "
                                         "data=\"old\" /></key></Preferences></Root>");
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<key name=\"a\">";
    const std::string damaged[] = {
        valid.substr(0, 10),
        valid.substr(0, valid.size() - 5),
        byteString("1.0.0.1") + number(1) + byteString("<Root><Preferences/></Root>"),
        byteString("1.0.0.0") + number(1) + number(5000) + "<Root>",
        byteString("1.0.0.0") + number(1) + number(0xFFFFFFF0u) + "<R",
        recordFile("this is not XML"),
        recordFile("<Root><Settings/></Root>"),
        recordFile("<Root><Preferences><key name=\"K\"></Root>"),
        recordFile(deep),
        // A UTF-8 sequence cut off at the end of the record.
        recordFile("<Root><Preferences><key name=\"K\xe3"),
    };
    int n = 0;
    for (const std::string& bytes : damaged)
    {
        SCOPED_TRACE("damaged file " + std::to_string(n));
        const std::string path = "damaged" + std::to_string(n++) + ".dat";
        TestSupport::writeFile(path, bytes);
        auto store = storeOn(path);
        std::wstring text;
        EXPECT_FALSE(store->Read(L"K", L"v", text, L"default"));
        EXPECT_EQ(text, L"default");
        std::vector<std::wstring> names;
        store->ListKeys(L"", names);
        EXPECT_TRUE(names.empty());
        EXPECT_FALSE(store->Write(L"K", L"v", L"new"));
        EXPECT_FALSE(store->DeleteKey(L"K"));
        {
            // Nor under the caller's own lock, where the commit comes later.
            const auto lock = store->GetScopedLock();
            EXPECT_FALSE(store->Write(L"K", L"v", L"new"));
            EXPECT_FALSE(store->DeleteValue(L"K", L"v"));
        }
        EXPECT_EQ(TestSupport::readFile(path), bytes) << "the file was replaced";
    }

    // Over a SimpleFileCask the file is the document itself.
    TestSupport::writeFile("simple.xml", "this is not XML");
    XmlStore simple(boost::make_shared<SimpleFileCask>(FileCask::PrivateAccess, L"simple.xml"), 0,
                    false);
    EXPECT_FALSE(simple.Write(L"K", L"v", L"new"));
    EXPECT_EQ(TestSupport::readFile("simple.xml"), "this is not XML");

    // An empty file holds nothing to lose.
    TestSupport::writeFile("empty.dat", "");
    ASSERT_TRUE(storeOn("empty.dat")->Write(L"K", L"v", L"new"));
    EXPECT_EQ(TestSupport::readFile("empty.dat"),
              recordFile(std::string(kDeclaration) +
                         "<Root><Preferences><key name=\"K\"><value "
                         "name=\"v\" data=\"new\" /></key></Preferences>"
                         "</Root>"));

    // The same file intact, as another implementation wrote it, reads in full.
    TestSupport::writeFile("valid.dat", valid);
    std::wstring text;
    EXPECT_TRUE(storeOn("valid.dat")->Read(L"K", L"v", text, L""));
    EXPECT_EQ(text, L"old");
}

TEST(XmlStore, ProcessesAddingInScopedLocksLoseNoUpdate)
{
    const int processes = 4;
    const int times = 60;
    {
        auto store = storeOn("counter.dat");
        ASSERT_TRUE(store->Write(L"Counter", L"value", 0));
    }
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < processes; ++i)
        children.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
            helperProgram(), "add", "counter.dat", std::to_string(times)}));

    // Meanwhile this process keeps reading the file under the lock: it must
    // always parse, and the count never goes back.
    auto watcher = storeOn("counter.dat");
    int last = 0;
    for (int i = 0; i < 50; ++i)
    {
        auto lock = watcher->GetScopedLock();
        int value = -1;
        ASSERT_TRUE(watcher->Reload());
        ASSERT_TRUE(watcher->Read(L"Counter", L"value", value, -1));
        EXPECT_GE(value, last);
        last = value;
    }
    for (auto& child : children)
    {
        const int status = child->wait();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "3 lock, 4 unparsable file, 5 read, 6 write failed";
    }
    int value = 0;
    ASSERT_TRUE(watcher->Reload());
    ASSERT_TRUE(watcher->Read(L"Counter", L"value", value, 0));
    EXPECT_EQ(value, processes * times);
}

TEST(XmlStore, ThreadsWithTheirOwnStoresLoseNoUpdate)
{
    // The file lock is reentrant per thread only: threads still exclude each other.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&failures]
            {
                auto store = storeOn("threads.dat");
                for (int i = 0; i < 50; ++i)
                {
                    auto lock = store->GetScopedLock();
                    int value = 0;
                    store->Read(L"Counter", L"value", value, 0);
                    if (!store->Write(L"Counter", L"value", value + 1))
                        ++failures;
                }
            });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    int value = 0;
    ASSERT_TRUE(storeOn("threads.dat")->Read(L"Counter", L"value", value, 0));
    EXPECT_EQ(value, 200);
}

TEST(XmlStore, AFailedSaveKeepsTheChangesForTheNextCommit)
{
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        int result = 0;
        {
            signal(SIGXFSZ, SIG_IGN);
            auto store = storeOn("limited.dat");
            {
                auto lock = store->GetScopedLock();
                rlimit limit = {200, RLIM_INFINITY};
                setrlimit(RLIMIT_FSIZE, &limit);
                store->Write(L"K", L"big", std::wstring(1000, L'x'));
                if (store->Commit())
                    result = 1;
                limit.rlim_cur = RLIM_INFINITY;
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (documentIn("limited.dat").find(std::string(1000, 'x')) == std::string::npos)
                result += 2;
        }
        _exit(result);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: failure reported as success, 2: changes lost";
}

TEST(XmlStore, ServesAsTheApplicationStoreThroughTheSelector)
{
    Preference::Initialize();
    Preference::SetGlobalOverride(Preference::ScopeApplication,
                                  [] {
                                      return boost::shared_ptr<Preference::PreferenceBase>(
                                          storeOn("app/settings.dat").release());
                                  });
    auto store = Preference::Get(Preference::ScopeApplication);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->GetLockTimeout(), -1);
    EXPECT_TRUE(store->TestWrite(L"Software\\Ombrel\\Tessary"));
    ASSERT_TRUE(store->Write(L"Software\\Ombrel\\Tessary", L"LastOpenedDir", L"/srv"));

    Preference::detail::IPreference::Container pairs;
    pairs.Set(L"b", L"2");
    pairs.Set(L"a", L"1");
    ASSERT_TRUE(store->Write(L"Cache", pairs));
    Preference::detail::IPreference::Container back;
    auto fresh = storeOn("app/settings.dat");
    ASSERT_TRUE(fresh->Read(L"Cache", back));
    const std::map<std::wstring, std::wstring> expected{{L"a", L"1"}, {L"b", L"2"}};
    EXPECT_EQ(back.GetMap(), expected);
    std::vector<std::wstring> names;
    fresh->ListValues(L"Software/Ombrel/Tessary", names);
    EXPECT_EQ(names, std::vector<std::wstring>{L"LastOpenedDir"}) << "the write test left nothing";
    Preference::UnInitialize();
}

TEST(XmlStore, KeepsTextAndPathsAsUtf8)
{
    const std::wstring path = L"d\u00e9j\u00e0/store.dat";
    auto store = std::make_unique<XmlStore>(
        boost::make_shared<FileCask>(FileCask::PrivateAccess, path), 0, false);
    ASSERT_TRUE(store->Write(L"Cl\u00e9", L"\u540d\u524d", L"\u00fcber \U0001F600\n<tab>\t"));
    EXPECT_NE(TestSupport::readFile("d\xc3\xa9j\xc3\xa0/store.dat")
                  .find("<key name=\"Cl\xc3\xa9\"><value name=\"\xe5\x90\x8d\xe5\x89\x8d\""),
              std::string::npos);
    auto reader = std::make_unique<XmlStore>(
        boost::make_shared<FileCask>(FileCask::PrivateAccess, path), 0, false);
    std::wstring text;
    ASSERT_TRUE(reader->Read(L"Cl\u00e9", L"\u540d\u524d", text, L""));
    EXPECT_EQ(text, L"\u00fcber \U0001F600\n<tab>\t");

    // Text that has no UTF-8 form is refused with the conversion error, and
    // the store stays usable.
    const std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_THROW(store->Write(L"K", L"v", lone), std::range_error);
    EXPECT_FALSE(store->IsLocked());
    EXPECT_TRUE(store->Write(L"K", L"v", L"fine"));
}

TEST(XmlStore, HostileDeepRecordsReadAsDamagedWithoutCrashing)
{
    // Closing tags hidden in comments, attributes or CDATA must not cancel the
    // levels really opened.
    for (const std::string& hidden :
         {std::string("<!--</key>-->"), std::string("<x a=\"</key>\" b='/>'/>"),
          std::string("<![CDATA[</key>]]>"), std::string("")})
    {
        std::string document = std::string(kDeclaration) + "<Root><Preferences>";
        document.reserve(60000 * (hidden.size() + 20));
        for (int i = 0; i < 60000; ++i)
            document += "<key name=\"k\">" + hidden;
        for (int i = 0; i < 60000; ++i)
            document += "</key>";
        document += "<key name=\"K\"><value name=\"v\" data=\"1\"/></key></Preferences></Root>";
        TestSupport::writeFile("deep.xml", document);
        XmlStore store(boost::make_shared<SimpleFileCask>(FileCask::PrivateAccess, L"deep.xml"), 0,
                       false);
        std::wstring value;
        EXPECT_FALSE(store.Read(L"K", L"v", value, L"")) << hidden;
    }
}
