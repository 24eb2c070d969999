// Start-up of the main window on the sample flat package (offscreen): from
// constructing the window, which reads the package through the tools and builds
// every page, to the first page painted. Anchors measured in the same run:
// expanding the same package with xar alone, and showing a bare window with a
// tree and a page stack.

#include "bench/support/FigureReporter.h"

#include "app/document/ToolDirectory.h"
#include "app/window/AdminPage.h"

#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/PageHolder.h"
#include <preference/Preference.h>

#include <QApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QProcess>
#include <QSplitter>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace
{
const QString Sample = QStringLiteral(TESSARY_BENCH_SAMPLE);

void StartupToFirstPage(benchmark::State& state)
{
    for (auto _ : state)
    {
        CAdminPage window(Sample, QStringList());
        window.show();
        QCoreApplication::processEvents();
        window.repaint();
        CPage* const page = window.pageHolder()->activePage();
        if (!page || page == window.pageHolder()->pageAt(0))
        {
            state.SkipWithError("the sample package did not open");
            break;
        }
        benchmark::DoNotOptimize(page);
    }
}

void XarExpandSample(benchmark::State& state)
{
    for (auto _ : state)
    {
        QTemporaryDir directory;
        QProcess xar;
        xar.start(QStringLiteral("xar"),
                  {QStringLiteral("-xf"), Sample, QStringLiteral("-C"), directory.path()});
        if (!xar.waitForFinished(60000) || xar.exitCode() != 0)
        {
            state.SkipWithError("xar failed on the sample package");
            break;
        }
    }
}

void BareWindowShow(benchmark::State& state)
{
    for (auto _ : state)
    {
        QMainWindow window;
        QSplitter* const splitter = new QSplitter(&window);
        splitter->addWidget(new QTreeView(splitter));
        QStackedWidget* const stack = new QStackedWidget(splitter);
        stack->addWidget(new QLabel(QStringLiteral("Page"), stack));
        splitter->addWidget(stack);
        window.setCentralWidget(splitter);
        window.resize(800, 600);
        window.show();
        QCoreApplication::processEvents();
        window.repaint();
    }
}

BENCHMARK(StartupToFirstPage)->Unit(benchmark::kMillisecond);
BENCHMARK(XarExpandSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BareWindowShow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // The begin/end tracing would otherwise be measured too.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    CToolDirectory::prependToPath(QStringLiteral(TESSARY_BENCH_TOOLS_DIR));
    Preference::Initialize();
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto& ns = reporter.m_mapNanoseconds;
    const char* ours = "StartupToFirstPage";
    for (const char* anchor : {"XarExpandSample", "BareWindowShow"})
    {
        if (ns.count(ours) && ns.count(anchor))
            std::printf("%-20s %10.2f ms   %-18s %10.2f ms   ratio %.2f\n", ours, ns.at(ours) / 1e6,
                        anchor, ns.at(anchor) / 1e6, ns.at(ours) / ns.at(anchor));
    }
    benchmark::Shutdown();
    Preference::UnInitialize();
    return 0;
}
