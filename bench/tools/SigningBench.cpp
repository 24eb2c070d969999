// Publishing signs a flat package while it is flattened: the signature covers the table of
// contents only, so it should add a constant few milliseconds, whatever the payload. Measured
// on the sample package with 200 MB of payload that does not compress, against flattening the
// same directory unsigned in the same run.

#include "bench/support/FigureReporter.h"

#include "platform/tools/src/FlatPackage.h"
#include "platform/tools/src/SigningIdentity.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>
#include <vector>

using namespace PlatformTools;
namespace fs = std::filesystem;

namespace
{
// Flattening 200 MB mostly waits for the disk, whose noise on a busy machine dwarfs the
// signature; the fastest of several interleaved runs of each compares like with like.
class MinimumReporter : public BenchSupport::FigureReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
            {
                const double ns = run.GetAdjustedRealTime() * 1e9 /
                                  benchmark::GetTimeUnitMultiplier(run.time_unit);
                const double cpu = run.GetAdjustedCPUTime() * 1e9 /
                                   benchmark::GetTimeUnitMultiplier(run.time_unit);
                const std::string& sName = run.run_name.function_name;
                if (!m_mapMinimum.count(sName) || ns < m_mapMinimum[sName])
                    m_mapMinimum[sName] = ns;
                if (!m_mapMinimumCpu.count(sName) || cpu < m_mapMinimumCpu[sName])
                    m_mapMinimumCpu[sName] = cpu;
            }
        FigureReporter::ReportRuns(runs);
    }
    std::map<std::string, double> m_mapMinimum, m_mapMinimumCpu; // by function name
};

std::string g_sWork;
std::shared_ptr<CSigningIdentity> g_pIdentity;

bool run(const std::vector<std::string>& lArgs)
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        std::vector<char*> argv;
        for (const std::string& sArg : lArgs)
            argv.push_back(const_cast<char*>(sArg.c_str()));
        argv.push_back(nullptr);
        if (::chdir(g_sWork.c_str()) == 0)
            ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// A signer certificate under a root, as an administrator's identity file would hold them.
bool makeIdentity()
{
    {
        std::ofstream password(g_sWork + "/password");
        password << "bench\n";
        // Signing takes only certificates meant for signing software.
        std::ofstream extensions(g_sWork + "/leaf.cnf");
        extensions << "[leaf]\nkeyUsage = critical,digitalSignature\n"
                      "extendedKeyUsage = 1.2.840.113635.100.4.13\n";
    }
    const bool bMade =
        run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key",
             "-out", "root.pem", "-days", "30", "-subj", "/CN=Bench Root"}) &&
        run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
             "signer.csr", "-subj", "/CN=Installer: Bench"}) &&
        run({"openssl", "x509", "-req", "-in", "signer.csr", "-CA", "root.pem", "-CAkey",
             "root.key", "-set_serial", "2", "-days", "30", "-extfile", "leaf.cnf", "-extensions",
             "leaf", "-out", "signer.pem"}) &&
        run({"openssl", "pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem",
             "-certfile", "root.pem", "-out", "identity.p12", "-passout", "file:password"});
    if (bMade)
        g_pIdentity = CSigningIdentity::fromPkcs12(g_sWork + "/identity.p12", "bench");
    return bMade;
}

// The sample package expanded, its payload replaced by 200 MB that do not compress.
bool makeExpandedPackage()
{
    CFlatPackage::expand(TESSARY_BENCH_SAMPLE, g_sWork + "/expanded");
    std::ofstream payload(g_sWork + "/expanded/Payload", std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    unsigned int state = 12345;
    for (int i = 0; i < 200; ++i)
    {
        for (char& c : block)
        {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        }
        payload.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return static_cast<bool>(payload);
}

void FlattenUnsigned(benchmark::State& state)
{
    for (auto _ : state)
        CFlatPackage::flatten(g_sWork + "/expanded", g_sWork + "/Unsigned.pkg");
}

void FlattenSigned(benchmark::State& state)
{
    for (auto _ : state)
        CFlatPackage::flatten(g_sWork + "/expanded", g_sWork + "/Signed.pkg", g_pIdentity);
}

// What signing adds in itself: the signature element and the RSA signature of a checksum.
void SignTableOfContents(benchmark::State& state)
{
    const std::vector<unsigned char> checksum(20, 0x5a);
    for (auto _ : state)
    {
        TiXmlElement toc("toc");
        g_pIdentity->describe(toc, 20);
        benchmark::DoNotOptimize(g_pIdentity->sign(checksum, "sha1"));
    }
}

void LoadIdentity(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CSigningIdentity::fromPkcs12(g_sWork + "/identity.p12", "bench"));
}

BENCHMARK(FlattenUnsigned)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(false);
BENCHMARK(FlattenSigned)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(false);
BENCHMARK(SignTableOfContents)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadIdentity)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string sTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessary-bench-XXXXXX";
    if (!::mkdtemp(sTemplate.data()))
    {
        std::perror("bench_tools_signing: cannot create a work directory");
        return 1;
    }
    g_sWork = sTemplate;
    int rc = 0;
    try
    {
        if (!makeIdentity() || !makeExpandedPackage())
            throw std::runtime_error("cannot build the identity or the 200 MB package");
        // Signed and unsigned runs alternate, so load from elsewhere hits both alike.
        std::vector<char*> lArgs(argv, argv + argc);
        std::string sInterleave = "--benchmark_enable_random_interleaving=true";
        lArgs.push_back(sInterleave.data());
        int count = static_cast<int>(lArgs.size());
        benchmark::Initialize(&count, lArgs.data());
        MinimumReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        const auto& ns = reporter.m_mapNanoseconds;
        const auto& minimum = reporter.m_mapMinimum;
        if (minimum.count("FlattenSigned") && minimum.count("FlattenUnsigned"))
            std::printf("%-20s %10.2f ms   %-20s %10.2f ms   added %.2f ms (target < 50 ms; "
                        "fastest of 7 each)\n",
                        "FlattenSigned", minimum.at("FlattenSigned") / 1e6, "FlattenUnsigned",
                        minimum.at("FlattenUnsigned") / 1e6,
                        (minimum.at("FlattenSigned") - minimum.at("FlattenUnsigned")) / 1e6);
        const auto& cpu = reporter.m_mapMinimumCpu;
        if (cpu.count("FlattenSigned") && cpu.count("FlattenUnsigned"))
            std::printf("%-20s %10.2f ms   %-20s %10.2f ms   added %.2f ms of CPU time\n",
                        "FlattenSigned (CPU)", cpu.at("FlattenSigned") / 1e6,
                        "FlattenUnsigned (CPU)", cpu.at("FlattenUnsigned") / 1e6,
                        (cpu.at("FlattenSigned") - cpu.at("FlattenUnsigned")) / 1e6);
        if (ns.count("SignTableOfContents") && ns.count("LoadIdentity"))
            std::printf("signing step alone %.3f ms, loading the identity %.3f ms\n",
                        ns.at("SignTableOfContents") / 1e6, ns.at("LoadIdentity") / 1e6);
        benchmark::Shutdown();
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench_tools_signing: %s\n", error.what());
        rc = 1;
    }
    std::error_code ignored;
    fs::remove_all(g_sWork, ignored);
    return rc;
}
