// The review of a document with 1,000 and 5,000 set fields, each a line edit with a
// caption label on one of ten pages: gathering the review (what runs before every
// publish) against walking the same tree for its set properties, which every
// publish does anyway, in the same run. And opening the review dialog (5,000 rows)
// for an installer of 4 GB (a sparse file) against reading the installer for its
// digest, which the dialog leaves to a worker.

#include "bench/support/FigureReporter.h"

#include "app/document/Document.h"
#include "app/review/ReviewCollector.h"
#include "app/review/ReviewDialog.h"
#include "app/review/ReviewReport.h"

#include <preference/Preference.h>

#include <QApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
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

// A sparse installer of 4 GB: reading it costs what reading a real one does.
QString largeInstaller()
{
    static QTemporaryDir s_directory;
    const QString path = s_directory.filePath(QStringLiteral("Large.pkg"));
    QFile file(path);
    if (!s_directory.isValid() ||
        (!file.exists() && (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(4) << 30))))
        return QString();
    return path;
}

void OpenReviewLargeInstaller(benchmark::State& state)
{
    CDocument* const document = documentWith(5000);
    const QString installer = largeInstaller();
    if (!document || installer.isEmpty())
    {
        state.SkipWithError("cannot make the document or the 4 GB installer");
        return;
    }
    document->setSourceFile(QFileInfo(installer));
    for (auto _ : state)
    {
        // Until the dialog is shown: the digest is not there yet.
        CReviewDialog dialog(nullptr, *document, QString(), true);
        benchmark::DoNotOptimize(dialog.report().m_sSourceDigest);
    }
    document->setSourceFile(QFileInfo());
}

void HashLargeInstaller(benchmark::State& state)
{
    const QString installer = largeInstaller();
    for (auto _ : state)
    {
        if (CReviewReport::sha256Of(installer).isEmpty())
        {
            state.SkipWithError("cannot read the 4 GB installer");
            break;
        }
    }
}

BENCHMARK(Review)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SetProperties)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(OpenReviewLargeInstaller)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(HashLargeInstaller)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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
    const char* open = "OpenReviewLargeInstaller/iterations:3/real_time";
    const char* hash = "HashLargeInstaller/iterations:1/real_time";
    if (ns.count(open) && ns.count(hash))
        std::printf("%-24s %10.2f ms   %-20s %10.2f ms   ratio %.4f (target below 0.05)\n",
                    "OpenReviewLargeInstaller", ns.at(open) / 1e6, "HashLargeInstaller",
                    ns.at(hash) / 1e6, ns.at(open) / ns.at(hash));
    documents().clear();
    benchmark::Shutdown();
    Preference::UnInitialize();
    return 0;
}
