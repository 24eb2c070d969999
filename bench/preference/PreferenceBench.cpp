// Settings access through the preference library next to QSettings doing the
// same work: the per-access store lookup, 1,000 and 10,000 text writes committed
// once (the cost must grow linearly), and 1,000 reads. Runs in a private home so no real settings
// are touched.
#include "bench/support/FigureReporter.h"

#include <preference/PlistStore.h>
#include <preference/Preference.h>

#include <QCoreApplication>
#include <QSettings>
#include <QString>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace
{

std::atomic<long> g_allocations(0);

const int Count = 1000;

std::wstring Name(int i)
{
    return L"Value" + std::to_wstring(i);
}

QString QName(int i)
{
    return QStringLiteral("Bench/Texts/Value") + QString::number(i);
}

void Get4(benchmark::State& state)
{
    Preference::Initialize();
    Preference::Get(Preference::Scope(4));
    const long before = g_allocations;
    for (auto _ : state)
        benchmark::DoNotOptimize(Preference::Get(Preference::Scope(4)));
    state.counters["allocs/iter"] =
        benchmark::Counter(double(g_allocations - before), benchmark::Counter::kAvgIterations);
    Preference::UnInitialize();
}

// Each size writes into a domain and a settings file of its own.
void PlistStoreWrite(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const Preference::CFStringPtr domain(CFStringCreateWithCString(
        kCFAllocatorDefault, ("com.ombrel.Bench" + std::to_string(count)).c_str(),
        kCFStringEncodingUTF8));
    Preference::PlistStore store(domain.get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    int round = 0;
    for (auto _ : state)
    {
        const auto lock = store.GetScopedLock();
        const std::wstring text = L"text " + std::to_wstring(++round);
        for (int i = 0; i < count; ++i)
            store.Write(L"Bench\\Texts", Name(i), text);
    }
}

void QSettingsWrite(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    QSettings settings(QStringLiteral("Ombrel"), QStringLiteral("Bench") + QString::number(count));
    int round = 0;
    for (auto _ : state)
    {
        const QString text = QStringLiteral("text ") + QString::number(++round);
        for (int i = 0; i < count; ++i)
            settings.setValue(QName(i), text);
        settings.sync();
    }
}

void PlistStoreRead1000(benchmark::State& state)
{
    Preference::PlistStore store(CFSTR("com.ombrel.Bench"), kCFPreferencesCurrentUser,
                                 kCFPreferencesAnyHost);
    std::wstring value;
    for (auto _ : state)
        for (int i = 0; i < Count; ++i)
        {
            store.Read(L"Bench\\Texts", Name(i), value, L"");
            benchmark::DoNotOptimize(value);
        }
}

void QSettingsRead1000(benchmark::State& state)
{
    QSettings settings(QStringLiteral("Ombrel"), QStringLiteral("Bench"));
    for (auto _ : state)
        for (int i = 0; i < Count; ++i)
            benchmark::DoNotOptimize(settings.value(QName(i)).toString());
}

BENCHMARK(Get4);
BENCHMARK(PlistStoreWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(QSettingsWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(PlistStoreRead1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(QSettingsRead1000)->Unit(benchmark::kMicrosecond);

std::string g_home;

void MakePrivateHome()
{
    char pattern[] = "/tmp/tessary-bench-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("cannot create a private home for the benchmark");
    const std::string home = pattern;
    g_home = home;
    setenv("HOME", home.c_str(), 1);
    setenv("CFFIXED_USER_HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("TESSARY_ANY_USER_PREFERENCES", (home + "/system").c_str(), 1);
}

} // namespace

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

int main(int argc, char** argv)
{
    MakePrivateHome();
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
    if (ns.count("Get4"))
        std::printf("%-22s %12.1f ns   target 50 ns\n", "Get4", ns.at("Get4"));
    ratio("PlistStoreWrite/1000", "QSettingsWrite/1000");
    ratio("PlistStoreWrite/10000", "QSettingsWrite/10000");
    ratio("PlistStoreRead1000", "QSettingsRead1000");
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(g_home, ignored);
    return 0;
}
