// One web check against each hostile answer of the loopback test server, with
// the time it takes and how far the process's peak memory grows meanwhile,
// against the check of an ordinary small page in the same run.

#include "bench/support/FigureReporter.h"

#include "app/validation/ValidateWebResource.h"
#include "app/validation/WaitWithQtEvents.h"
#include "app/validation/XmlWellFormedValidator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace
{
QProcess* g_pServer = nullptr;
quint16 g_nPort = 0;
std::map<std::string, double> g_mapPeakGrowthMb;
std::map<std::string, std::string> g_mapReasons;

// A value in kB from /proc/self/status ("VmHWM", "VmRSS").
long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    return -1;
}

// Starts counting the peak anew from the current resident size.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool startServer()
{
    g_pServer = new QProcess;
    g_pServer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    g_pServer->start(QStringLiteral("python3"), {QStringLiteral(TESSARY_BENCH_WEB_SERVER)});
    if (!g_pServer->waitForStarted(5000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!g_pServer->canReadLine() && clock.elapsed() < 10000)
        g_pServer->waitForReadyRead(200);
    g_nPort = quint16(g_pServer->readLine().trimmed().toUInt());
    return g_nPort != 0;
}

// Runs one check from the event loop, as the results dialog does.
QString check(const char* path)
{
    ValidateWebResource resource(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(g_nPort).arg(path)));
    resource.setDirectConnection(true);
    resource.addValidator(std::make_shared<XmlWellFormedValidator>());
    QString reason;
    bool done = false;
    QObject::connect(&resource, &ValidateWebResource::validationSucceeded,
                     [&done] { done = true; });
    QObject::connect(&resource, &ValidateWebResource::validationFailed,
                     [&done, &reason](const QString& why)
                     {
                         done = true;
                         reason = why;
                     });
    QTimer::singleShot(0, &resource, &ValidateWebResource::run);
    QtPort::WaitWithQtEvents waiter([&done] { return !done; });
    waiter.Wait(120000);
    return done ? (reason.isEmpty() ? QStringLiteral("passed") : reason)
                : QStringLiteral("no report");
}

void Check(benchmark::State& state, const char* label, const char* path)
{
    const std::string name = std::string("Check/") + label;
    double growthMb = 0;
    for (auto _ : state)
    {
        const long before = statusKb("VmRSS");
        resetPeak();
        g_mapReasons[name] = check(path).toStdString();
        growthMb = std::max(growthMb, (statusKb("VmHWM") - before) / 1024.0);
    }
    g_mapPeakGrowthMb[name] = growthMb;
    state.counters["peak_growth_MB"] = growthMb;
}

} // namespace

BENCHMARK_CAPTURE(Check, SmallPage, "SmallPage", "/xml")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(Check, DeepXml, "DeepXml", "/deep")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Check, EntityBomb, "EntityBomb", "/entities")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Check, GigabyteBody, "GigabyteBody", "/huge")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Check, EndlessHeader, "EndlessHeader", "/endlessheader")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Check, EndlessBody, "EndlessBody", "/endless")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    if (!startServer())
    {
        std::fprintf(stderr, "bench_validation: the loopback web server did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    BenchSupport::FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // The reporter's names carry the iteration count after the label.
    const auto realMs = [&reporter](const std::string& name)
    {
        for (const auto& entry : reporter.m_mapNanoseconds)
            if (entry.first.rfind(name + "/", 0) == 0 || entry.first == name)
                return entry.second / 1e6;
        return -1.0;
    };
    std::printf("\n%-20s %10s %14s   %s\n", "check", "time", "peak growth", "outcome");
    for (const auto& entry : g_mapReasons)
        std::printf("%-20s %7.0f ms %11.1f MB   %s\n", entry.first.c_str(), realMs(entry.first),
                    g_mapPeakGrowthMb[entry.first], entry.second.c_str());
    std::printf("anchors: Check/SmallPage %.1f ms; time limit %d ms; body limit %d MB\n",
                realMs("Check/SmallPage"), ValidateWebResource::DefaultTimeoutMs,
                ValidateWebResource::MaxBodyBytes / (1024 * 1024));
    g_pServer->kill();
    g_pServer->waitForFinished(3000);
    delete g_pServer;
    benchmark::Shutdown();
    return 0;
}
