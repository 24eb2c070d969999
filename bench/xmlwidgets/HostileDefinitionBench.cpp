// Loading hostile page definitions: many actions naming one widget, and captions
// of unbroken text in a text edit and a label. Each is loaded (read, parse, lay
// out, resolve and initialise), shown and discarded, at two sizes, so that the
// growth from one size to the next can be compared with the growth in size. The
// anchor is the one second an administrator may wait for a definition to open.
#include "BenchRoot.h"

#include "bench/support/FigureReporter.h"

#include "shared/XmlWidgets/XmlDefinitionReader.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tinyxml.h>

namespace
{
QByteArray page(const QByteArray& content)
{
    return "<root version=\"1.8\" layout=\"vertical\"><pageholder><page name=\"P\" title=\"P\" "
           "layout=\"vertical\">" +
           content + "</page></pageholder></root>";
}

// count actions on one button, all naming the same check box.
QByteArray actions(int count)
{
    QByteArray content = "<checkbox name=\"Target\" title=\"Target\"/><pushbutton name=\"Go\" "
                         "title=\"Go\">";
    for (int i = 0; i < count; ++i)
        content += "<action signal=\"clicked\" slot=\"disable\" widget=\"Target\"/>";
    return page(content + "</pushbutton>");
}

QByteArray unbroken(const char* element, int bytes)
{
    return page(QByteArray("<") + element + " name=\"Long\" title=\"" + QByteArray(bytes, 'x') +
                "\"/>");
}

void load(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state)
    {
        TiXmlDocument document;
        QString error;
        CBenchRoot root;
        root.resize(800, 600);
        if (CXmlDefinitionReader::read(bytes, document, error) != 0 ||
            root.parse(document.RootElement(), error) != 0 || root.init(error) != 0)
        {
            state.SkipWithError(error.toStdString().c_str());
            break;
        }
        root.show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(root.childObjects().size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}

void LoadActions(benchmark::State& state)
{
    load(state, actions(int(state.range(0))));
}

void LoadUnbrokenTextEdit(benchmark::State& state)
{
    load(state, unbroken("textedit", int(state.range(0))));
}

void LoadUnbrokenLabel(benchmark::State& state)
{
    load(state, unbroken("label", int(state.range(0))));
}

BENCHMARK(LoadActions)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadUnbrokenTextEdit)->Arg(300 << 10)->Arg(3 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadUnbrokenLabel)->Arg(300 << 10)->Arg(3 << 20)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    // The framework's begin/end tracing would otherwise be measured too.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    CXmlObject::m_gCurrentXmlVersion = std::wstring(L"1.8");
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // Each figure beside the one-second anchor, and its growth against the size's.
    const auto& ns = reporter.m_mapNanoseconds;
    const struct
    {
        const char* small;
        const char* large;
        double sizeRatio;
    } pairs[] = {{"LoadActions/2500", "LoadActions/10000", 4.0},
                 {"LoadUnbrokenTextEdit/307200", "LoadUnbrokenTextEdit/3145728", 10.24},
                 {"LoadUnbrokenLabel/307200", "LoadUnbrokenLabel/3145728", 10.24}};
    std::printf("\n");
    for (const auto& pair : pairs)
    {
        if (!ns.count(pair.small) || !ns.count(pair.large))
            continue;
        std::printf("%-30s %9.1f ms   %-30s %9.1f ms   anchor 1000 ms   growth %.1fx for "
                    "%.1fx the size\n",
                    pair.small, ns.at(pair.small) / 1e6, pair.large, ns.at(pair.large) / 1e6,
                    ns.at(pair.large) / ns.at(pair.small), pair.sizeRatio);
    }
    benchmark::Shutdown();
    return 0;
}
