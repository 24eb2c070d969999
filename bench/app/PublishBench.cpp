// Publishing a flat package with a 200 MB payload through the file-operation
// worker (expand, write the values, flatten, move into place), against expanding
// and flattening the same package with pkgutil alone in the same run.

#include "FigureReporter.h"

#include "PropertyText.h"
#include "ToolDirectory.h"

#include <CopyFileThread.h>
#include <preference/Preference.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
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
BENCHMARK(PkgutilExpandFlatten)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

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
    if (ns.count(ours) && ns.count(anchor))
        std::printf("%-20s %10.2f ms   %-20s %10.2f ms   ratio %.2f (target 1.20)\n",
                    "PublishFlatPackage", ns.at(ours) / 1e6, "PkgutilExpandFlatten",
                    ns.at(anchor) / 1e6, ns.at(ours) / ns.at(anchor));
    benchmark::Shutdown();
    Preference::UnInitialize();
    return 0;
}
