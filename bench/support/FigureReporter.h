#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace BenchSupport
{

// Prints as the console reporter does and keeps each benchmark's real time, so
// that a benchmark's main can print its figures against their anchors at the end.
class FigureReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                m_mapNanoseconds[run.benchmark_name()] =
                    run.GetAdjustedRealTime() * 1e9 /
                    benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }

    // Real time per iteration in nanoseconds, by benchmark name.
    std::map<std::string, double> m_mapNanoseconds;
};

} // namespace BenchSupport
