// Settings access through the preference library next to QSettings doing the
// same work: the per-access store lookup, 1,000 and 10,000 text writes committed
// once (the cost must grow linearly), and 1,000 reads of absent and of present
// values. Runs in a private home so no real settings are touched.
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
#include <vector>

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

// The names are made before timing on both sides: the figure is the store's.
// Reads of values that are absent (the domain was never written) and, the
// common case, of values that are there.
void PlistStoreRead(benchmark::State& state, const char* domain)
{
    const Preference::CFStringPtr id(
        CFStringCreateWithCString(kCFAllocatorDefault, domain, kCFStringEncodingUTF8));
    Preference::PlistStore store(id.get(), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    std::vector<std::wstring> names;
    for (int i = 0; i < Count; ++i)
        names.push_back(Name(i));
    std::wstring value;
    for (auto _ : state)
        for (const std::wstring& name : names)
        {
            store.Read(L"Bench\\Texts", name, value, L"");
            benchmark::DoNotOptimize(value);
        }
}

void QSettingsRead(benchmark::State& state, const char* application)
{
    QSettings settings(QStringLiteral("Ombrel"), QString::fromLatin1(application));
    std::vector<QString> names;
    for (int i = 0; i < Count; ++i)
        names.push_back(QName(i));
    for (auto _ : state)
        for (const QString& name : names)
            benchmark::DoNotOptimize(settings.value(name).toString());
}

void PlistStoreRead1000(benchmark::State& state)
{
    PlistStoreRead(state, "com.ombrel.Bench");
}

void QSettingsRead1000(benchmark::State& state)
{
    QSettingsRead(state, "Bench");
}

void PlistStoreReadPresent1000(benchmark::State& state)
{
    PlistStoreRead(state, "com.ombrel.Bench1000");
}

void QSettingsReadPresent1000(benchmark::State& state)
{
    QSettingsRead(state, "Bench1000");
}

BENCHMARK(Get4);
BENCHMARK(PlistStoreWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(QSettingsWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(PlistStoreRead1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(QSettingsRead1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(PlistStoreReadPresent1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(QSettingsReadPresent1000)->Unit(benchmark::kMicrosecond);

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
    ratio("PlistStoreReadPresent1000", "QSettingsReadPresent1000");
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(g_home, ignored);
    return 0;
}
