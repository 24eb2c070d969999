// Copying a bundle tree with the file worker against "cp -a", and customizing a
// script installer with a large payload against "cp", in the same run. The data is
// generated in a temporary directory at start and removed at the end.
#include "app/packages/CopyFileThread.h"
#include "app/packages/PackagerThread.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>

namespace
{
const int kTreeFiles = 5000;
const qint64 kTreeBytes = 500LL * 1024 * 1024;
const qint64 kPayloadBytes = 1024LL * 1024 * 1024;

std::unique_ptr<QTemporaryDir> g_work;
QString g_tree;
QString g_script;

void fill(QFile& file, qint64 bytes, quint32 seed)
{
    QByteArray block(1 << 20, '\0');
    quint32 state = seed;
    for (int i = 0; i < block.size(); ++i)
    {
        state = state * 1664525u + 1013904223u;
        block[i] = char(state >> 24);
    }
    while (bytes > 0)
    {
        const qint64 n = qMin<qint64>(bytes, block.size());
        file.write(block.constData(), n);
        bytes -= n;
    }
}

void makeTree()
{
    g_tree = g_work->filePath(QStringLiteral("Bundle.pkg"));
    const qint64 perFile = kTreeBytes / kTreeFiles;
    for (int i = 0; i < kTreeFiles; ++i)
    {
        const QString dir = g_tree + QStringLiteral("/Contents/d%1/e%2").arg(i / 250).arg(i / 50);
        QDir().mkpath(dir);
        QFile file(dir + QStringLiteral("/f%1").arg(i));
        file.open(QIODevice::WriteOnly);
        fill(file, perFile, quint32(i));
    }
}

void makeScript()
{
    g_script = g_work->filePath(QStringLiteral("Big.package"));
    QFile file(g_script);
    file.open(QIODevice::WriteOnly);
    QByteArray stub("#!/bin/bash\n# DisplayName en Big\n# SoftwareVersion 1.0\n"
                    "## BEGIN OF XML CONFIG\n#<AdminConfig/>\n## END OF XML CONFIG\n");
    for (int i = 0; i < 200; ++i)
        stub += "# filler line " + QByteArray::number(i) + "\n";
    stub += "skip_lines=\"210\"\n## END OF HEADER\n## END OF STUB\n";
    file.write(stub);
    fill(file, kPayloadBytes, 7);
}

double runMs(const QString& program, const QStringList& arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(-1);
    return double(timer.nsecsElapsed()) / 1e6;
}

void dropCopy(const QString& path)
{
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), path});
}

long peakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void resetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_CopyDirectory(benchmark::State& state)
{
    CCopyFileThread worker;
    std::atomic<bool> done{false};
    QObject::connect(
        &worker, &CCopyFileThread::copyDirectoryFinished, &worker, [&done]() { done = true; },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &CCopyFileThread::copyDirectoryError, &worker, [&done]() { done = true; },
        Qt::DirectConnection);
    worker.start();
    double oursMs = 0;
    double cpMs = 0;
    const QString ours = g_work->filePath(QStringLiteral("ours.pkg"));
    const QString theirs = g_work->filePath(QStringLiteral("cp.pkg"));
    bool cpFirst = false;
    for (auto _ : state)
    {
        // Alternate who goes first: creating files right after many were deleted
        // costs the file system more, and that must not count against one side.
        if (cpFirst)
            cpMs += runMs(QStringLiteral("cp"), {QStringLiteral("-a"), g_tree, theirs});
        done = false;
        QElapsedTimer timer;
        timer.start();
        worker.copyDirectory(g_tree, ours, QStringList());
        while (!done)
            QThread::usleep(200);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        oursMs += ms;
        if (!cpFirst)
            cpMs += runMs(QStringLiteral("cp"), {QStringLiteral("-a"), g_tree, theirs});
        cpFirst = !cpFirst;
        state.SetIterationTime(ms / 1000.0);
        dropCopy(ours);
        dropCopy(theirs);
    }
    state.counters["tessary_ms"] = oursMs / double(state.iterations());
    state.counters["cp_a_ms"] = cpMs / double(state.iterations());
    state.counters["ratio"] = oursMs / cpMs;
}

void BM_CustomizeScript(benchmark::State& state)
{
    double oursMs = 0;
    double cpMs = 0;
    long peakKb = 0;
    const QString ours = g_work->filePath(QStringLiteral("ours.package"));
    const QString theirs = g_work->filePath(QStringLiteral("cp.package"));
    for (auto _ : state)
    {
        CPackagerThread packager;
        for (int i = 0; i < 50; ++i)
            packager.addProperty(QStringLiteral("SETTING_%1").arg(i), QStringLiteral("value"));
        resetPeakRss();
        const long before = peakRssKb();
        QElapsedTimer timer;
        timer.start();
        packager.writePackage(g_script, ours);
        packager.wait();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        peakKb = qMax(peakKb, peakRssKb() - before);
        oursMs += ms;
        cpMs += runMs(QStringLiteral("cp"), {g_script, theirs});
        state.SetIterationTime(ms / 1000.0);
        QFile::remove(ours);
        QFile::remove(theirs);
    }
    state.counters["tessary_ms"] = oursMs / double(state.iterations());
    state.counters["cp_ms"] = cpMs / double(state.iterations());
    state.counters["ratio"] = oursMs / cpMs;
    state.counters["peak_growth_MB"] = double(peakKb) / 1024.0;
}

BENCHMARK(BM_CustomizeScript)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyDirectory)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The worker's per-file debug lines would be measured, not the copying.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);
    g_work = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/bench_packages"));
    if (!g_work->isValid())
        return 1;
    makeScript();
    makeTree();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_work.reset();
    return 0;
}
