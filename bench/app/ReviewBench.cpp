// The review of a document with 1,000 and 5,000 set fields, each a line edit with a
// caption label on one of ten pages: gathering the review (what runs before every
// publish) against walking the same tree for its set properties, which every
// publish does anyway, in the same run.

#include "bench/support/FigureReporter.h"

#include "app/document/Document.h"
#include "app/review/ReviewCollector.h"

#include <preference/Preference.h>

#include <QApplication>
#include <QLoggingCategory>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace
{
const int kPages = 10;

QByteArray definition(int fields)
{
    QByteArray xml = "<AdminConfig version=\"1.8\" title=\"Review\"><index>";
    for (int page = 0; page < kPages; ++page)
        xml += "<indexlink page=\"Page" + QByteArray::number(page) + "\" title=\"Page " +
               QByteArray::number(page) + "\"/>";
    xml += "</index><pageholder>";
    for (int page = 0; page < kPages; ++page)
    {
        xml += "<page name=\"Page" + QByteArray::number(page) + "\" title=\"Page " +
               QByteArray::number(page) + "\" layout=\"vertical\">";
        for (int field = page; field < fields; field += kPages)
        {
            const QByteArray n = QByteArray::number(field);
            xml += "<label title=\"Setting " + n + ":\" buddy=\"Field" + n +
                   "\"/><lineedit name=\"Field" + n + "\" property=\"PROPERTY_" + n + "\"/>";
        }
        xml += "</page>";
    }
    return xml + "</pageholder></AdminConfig>";
}

// One document per size, built once: building the pages is not what is measured.
std::map<int, std::unique_ptr<CDocument>>& documents()
{
    static std::map<int, std::unique_ptr<CDocument>> s_documents;
    return s_documents;
}

CDocument* documentWith(int fields)
{
    std::unique_ptr<CDocument>& document = documents()[fields];
    if (!document)
    {
        document = std::make_unique<CDocument>();
        QString error;
        if (!document->loadDefinition(definition(fields), error))
        {
            std::fprintf(stderr, "bench_app_review: %s\n", qPrintable(error));
            document.reset();
            return nullptr;
        }
        for (int field = 0; field < fields; ++field)
            document->offerProperty(QStringLiteral("PROPERTY_%1").arg(field),
                                    QStringLiteral("value %1").arg(field));
    }
    return document.get();
}

void Review(benchmark::State& state)
{
    CDocument* const document = documentWith(int(state.range(0)));
    if (!document)
    {
        state.SkipWithError("cannot load the page definition");
        return;
    }
    for (auto _ : state)
    {
        const CReviewReport report = CReviewCollector::collect(*document);
        if (report.m_lEntries.size() != state.range(0))
        {
            state.SkipWithError("the review lacks rows");
            break;
        }
    }
}

void SetProperties(benchmark::State& state)
{
    CDocument* const document = documentWith(int(state.range(0)));
    if (!document)
    {
        state.SkipWithError("cannot load the page definition");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(document->collectProperties(true));
}

BENCHMARK(Review)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SetProperties)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    Preference::Initialize();
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& ns = reporter.m_mapNanoseconds;
    for (const char* size : {"1000", "5000"})
    {
        const std::string ours = std::string("Review/") + size + "/iterations:3";
        const std::string anchor = std::string("SetProperties/") + size + "/iterations:3";
        if (ns.count(ours) && ns.count(anchor))
            std::printf("%-14s %10.2f ms   %-20s %10.2f ms   ratio %.1f (target below "
                        "1000 ms)\n",
                        ("Review/" + std::string(size)).c_str(), ns.at(ours) / 1e6,
                        ("SetProperties/" + std::string(size)).c_str(), ns.at(anchor) / 1e6,
                        ns.at(ours) / ns.at(anchor));
    }
    documents().clear();
    benchmark::Shutdown();
    Preference::UnInitialize();
    return 0;
}
