// Publishing a flat package with a 200 MB payload: through the publish sequence the
// window runs (the document's values handed to the file-operation worker, which
// expands, writes the values, flattens and moves into place); as tessary-cli does it
// (the whole program, from a customization file: start-up, the page tree, the
// checks, the same sequence); against expanding and flattening the same package with
// pkgutil alone, in the same run. Also the command line's start-up to its output for
// "show" on the sample, with its page tree on the offscreen platform.

#include "bench/support/FigureReporter.h"

#include "app/document/Document.h"
#include "app/document/DocumentRoot.h"
#include "app/document/Publisher.h"
#include "app/document/ToolDirectory.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/Package.h"
#include "app/packages/PackagerThread.h"
#include <preference/Preference.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
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
    const std::unique_ptr<CPackage> package(CCopyFileThread::loadPackage(QFileInfo(g_sPackage)));
    CDocument document;
    QString error;
    if (!package || !package->isValid())
    {
        state.SkipWithError("cannot open the package");
        return;
    }
    document.root().setPackageOS(package->os());
    if (!document.loadDefinition(package->xml(), error))
    {
        state.SkipWithError("cannot load the page definition");
        return;
    }
    document.offerProperty(QStringLiteral("SENTINEL_SERVER"),
                           QStringLiteral("console.example.org"));
    CCopyFileThread worker;
    CPackagerThread packager;
    CPublisher publisher(worker, packager);
    worker.start();
    CPublisher::CRequest request;
    request.m_pPackage = package.get();
    request.m_source = QFileInfo(g_sPackage);
    request.m_sOutput = g_pWork->filePath(QStringLiteral("Published.pkg"));
    request.m_lEntries = document.entries(false);
    request.m_lSetEntries = document.entries(true);
    for (auto _ : state)
    {
        QString message;
        QString written;
        if (!publisher.publish(request, message, written))
        {
            state.SkipWithError("publishing failed");
            break;
        }
    }
    worker.stop();
    worker.wait();
    publisher.removeLeftovers();
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
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
