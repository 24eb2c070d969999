// Publishing a flat package with a 200 MB payload: as the window does it, through
// the file-operation worker (expand, write the values, flatten, move into place);
// as tessary-cli does it (the whole program, from a customization file); against
// expanding and flattening the same package with pkgutil alone, in the same run.
// Also the command line's start-up to its output for "show" on the sample.

#include "bench/support/FigureReporter.h"

#include "app/document/PropertyText.h"
#include "app/document/ToolDirectory.h"

#include "app/packages/CopyFileThread.h"
#include <preference/Preference.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace
{
QTemporaryDir* g_pWork = nullptr;
QString g_sPackage;

bool tool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("pkgutil"), arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The sample package with its payload replaced by 200 MB that do not compress.
bool makePackage()
{
    const QString expanded = g_pWork->filePath(QStringLiteral("source"));
    if (!tool({QStringLiteral("--expand"), QStringLiteral(TESSARY_BENCH_SAMPLE), expanded}))
        return false;
    QFile payload(expanded + QStringLiteral("/Payload"));
    if (!payload.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, '\0');
    quint32 state = 12345;
    for (int i = 0; i < 200; ++i)
    {
        for (char& c : block)
        {
            state = state * 1664525u + 1013904223u;
            c = char(state >> 24);
        }
        payload.write(block);
    }
    payload.close();
    g_sPackage = g_pWork->filePath(QStringLiteral("Big.pkg"));
    const bool made = tool({QStringLiteral("--flatten"), expanded, g_sPackage});
    QDir(expanded).removeRecursively();
    return made;
}

void PublishFlatPackage(benchmark::State& state)
{
    CCopyFileThread worker;
    worker.start();
    const CPropertyText::Properties properties{
        {QStringLiteral("SENTINEL_SERVER"), QStringLiteral("console.example.org")},
        {QStringLiteral("SENTINEL_SERVER_PORT"), QStringLiteral("8443")}};
    const QString shell = CPropertyText::shellText(properties);
    const QString javaScript = CPropertyText::javaScriptText(properties);
    const QString output = g_pWork->filePath(QStringLiteral("Published.pkg"));
    for (auto _ : state)
    {
        QEventLoop loop;
        bool ok = false;
        QObject::connect(&worker, &CCopyFileThread::copyFlatPackageFinished, &loop,
                         [&]
                         {
                             ok = true;
                             loop.quit();
                         });
        QObject::connect(&worker, &CCopyFileThread::copyFlatPackageError, &loop,
                         [&] { loop.quit(); });
        worker.copyFlatPackage(g_sPackage, output, shell, QStringList(), javaScript, QString());
        loop.exec();
        if (!ok)
        {
            state.SkipWithError("publishing failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(g_sPackage).size());
}

// The command line, as a pipeline runs it: a new process per publish.
void CliPublishFlatPackage(benchmark::State& state)
{
    const QString customization = g_pWork->filePath(QStringLiteral("Big.xml"));
    QFile file(customization);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("<?xml version=\"1.0\"?>\n<AdminCustomization version=\"1.0\" source=\"" +
                   QFile::encodeName(g_sPackage) +
                   "\"><properties><property name=\"SENTINEL_SERVER\" widget=\"ServerAddress\">"
                   "console.example.org</property></properties></AdminCustomization>\n") < 0)
    {
        state.SkipWithError("cannot write the customization");
        return;
    }
    file.close();
    const QString output = g_pWork->filePath(QStringLiteral("Cli.pkg"));
    for (auto _ : state)
    {
        QProcess process;
        process.start(QStringLiteral(TESSARY_BENCH_CLI),
                      {QStringLiteral("publish"), customization, QStringLiteral("--output"), output,
                       QStringLiteral("--force")});
        if (!process.waitForFinished(-1) || process.exitCode() != 0)
        {
            state.SkipWithError("tessary-cli publish failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(g_sPackage).size());
}

// From starting the program to the end of its output (the whole of it).
void CliShowStartup(benchmark::State& state)
{
    for (auto _ : state)
    {
        QProcess process;
        process.start(QStringLiteral(TESSARY_BENCH_CLI),
                      {QStringLiteral("show"), QStringLiteral(TESSARY_BENCH_SAMPLE)});
        if (!process.waitForFinished(-1) || process.exitCode() != 0)
        {
            state.SkipWithError("tessary-cli show failed");
            break;
        }
    }
}

void PkgutilExpandFlatten(benchmark::State& state)
{
    for (auto _ : state)
    {
        QTemporaryDir directory;
        const QString expanded = directory.filePath(QStringLiteral("pkg"));
        if (!tool({QStringLiteral("--expand"), g_sPackage, expanded}) ||
            !tool({QStringLiteral("--flatten"), expanded,
                   g_pWork->filePath(QStringLiteral("Tools.pkg"))}))
        {
            state.SkipWithError("pkgutil failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(g_sPackage).size());
}

BENCHMARK(PublishFlatPackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(CliPublishFlatPackage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(PkgutilExpandFlatten)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(CliShowStartup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    CToolDirectory::prependToPath(QStringLiteral(TESSARY_BENCH_TOOLS_DIR));
    Preference::Initialize();
    QTemporaryDir work;
    g_pWork = &work;
    if (!work.isValid() || !makePackage())
    {
        std::fprintf(stderr, "bench_app_publish: cannot build the 200 MB package\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& ns = reporter.m_mapNanoseconds;
    const char* ours = "PublishFlatPackage/iterations:3/real_time";
    const char* anchor = "PkgutilExpandFlatten/iterations:3/real_time";
    const char* cli = "CliPublishFlatPackage/iterations:3/real_time";
    const char* show = "CliShowStartup/iterations:20/real_time";
    if (ns.count(ours) && ns.count(anchor))
        std::printf("%-22s %10.2f ms   %-22s %10.2f ms   ratio %.2f (target 1.20)\n",
                    "PublishFlatPackage", ns.at(ours) / 1e6, "PkgutilExpandFlatten",
                    ns.at(anchor) / 1e6, ns.at(ours) / ns.at(anchor));
    if (ns.count(cli) && ns.count(ours) && ns.count(anchor))
    {
        std::printf("%-22s %10.2f ms   %-22s %10.2f ms   ratio %.2f (target 1.05)\n",
                    "CliPublishFlatPackage", ns.at(cli) / 1e6, "PublishFlatPackage",
                    ns.at(ours) / 1e6, ns.at(cli) / ns.at(ours));
        std::printf("%-22s %10.2f ms   %-22s %10.2f ms   ratio %.2f (target 1.20)\n",
                    "CliPublishFlatPackage", ns.at(cli) / 1e6, "PkgutilExpandFlatten",
                    ns.at(anchor) / 1e6, ns.at(cli) / ns.at(anchor));
    }
    if (ns.count(show))
        std::printf("%-22s %10.2f ms   (target below 100 ms)\n", "CliShowStartup",
                    ns.at(show) / 1e6);
    benchmark::Shutdown();
    Preference::UnInitialize();
    return 0;
}
