// Uncontended FileLocker lock and unlock against flock on the same file, and
// 1,000 writes in one scoped lock on an XmlStore against QSettings (INI).
#include "bench/support/FigureReporter.h"

#include <filecask/FileCask.h>
#include <filecask/FileLocker.h>
#include <filecask/XmlStore.h>

#include <QCoreApplication>
#include <QSettings>
#include <QString>

#include <benchmark/benchmark.h>
#include <boost/make_shared.hpp>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace
{
std::string g_directory;

std::string PathOf(const char* name)
{
    return g_directory + "/" + name;
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void FileLockerLockUnlock(benchmark::State& state)
{
    const std::string path = PathOf("lock-target");
    std::ofstream(path) << "x";
    Preference::FileLocker locker(Wide(path));
    if (!locker.IsValid())
    {
        state.SkipWithError("no semaphore set for the file");
        return;
    }
    for (auto _ : state)
    {
        locker.Lock();
        locker.Unlock();
    }
}

void FlockLockUnlock(benchmark::State& state)
{
    const std::string path = PathOf("lock-target");
    std::ofstream(path) << "x";
    const int fd = open(path.c_str(), O_RDWR);
    for (auto _ : state)
    {
        flock(fd, LOCK_EX);
        flock(fd, LOCK_UN);
    }
    close(fd);
}

void XmlStoreWrite1000(benchmark::State& state)
{
    Preference::XmlStore store(
        boost::make_shared<Preference::FileCask>(Preference::FileCask::PrivateAccess,
                                                 Wide(PathOf("xmlstore.dat"))),
        0, false);
    for (auto _ : state)
    {
        auto lock = store.GetScopedLock();
        for (int i = 0; i < 1000; ++i)
            store.Write(L"Bench/Values", L"value" + std::to_wstring(i), i);
    }
}

void QSettingsWrite1000(benchmark::State& state)
{
    QSettings settings(QString::fromStdString(PathOf("settings.ini")), QSettings::IniFormat);
    for (auto _ : state)
    {
        for (int i = 0; i < 1000; ++i)
            settings.setValue(QStringLiteral("Values/value") + QString::number(i), i);
        settings.sync();
    }
}

BENCHMARK(FileLockerLockUnlock);
BENCHMARK(FlockLockUnlock);
BENCHMARK(XmlStoreWrite1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(QSettingsWrite1000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/tessary-bench-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("cannot create a private directory for the benchmark");
    g_directory = pattern;
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto& ns = reporter.m_mapNanoseconds;
    auto ratio = [&](const char* ours, const char* anchor)
    {
        if (ns.count(ours) && ns.count(anchor))
            std::printf("%-22s %12.0f ns   %-22s %12.0f ns   ratio %.2f\n", ours, ns.at(ours),
                        anchor, ns.at(anchor), ns.at(ours) / ns.at(anchor));
    };
    std::printf("\n");
    ratio("FileLockerLockUnlock", "FlockLockUnlock");
    ratio("XmlStoreWrite1000", "QSettingsWrite1000");
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(g_directory, ignored);
    return 0;
}
