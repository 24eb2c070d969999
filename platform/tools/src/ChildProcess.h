#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace PlatformTools
{

// Runs a program found on PATH with separate arguments, no shell, and waits for it within a
// time limit. A child that outlives its limit is killed; it also dies with this process.
class CChildProcess
{
public:
    // The full path of a program on PATH, or empty.
    static std::string findProgram(const std::string& sName);
    enum Output
    {
        Inherit,
        DiscardStdout,
        DiscardAll,
        // Standard output goes to *pCaptured (up to maxCapture bytes); stderr is discarded.
        Capture
    };
    struct SLimits
    {
        int seconds = 600;
        // The largest file the child may write (RLIMIT_FSIZE); 0: no limit of its own.
        std::uint64_t maxFileBytes = 0;
        std::size_t maxCapture = 16u * 1024 * 1024;
    };
    // Returns the exit status; throws CToolError when it cannot start, is killed by a signal
    // (a file over the size limit among them) or outlives its time.
    static int run(const std::vector<std::string>& lArguments, Output output, const SLimits& limits,
                   std::string* pCaptured = nullptr);
    static int run(const std::vector<std::string>& lArguments, Output output);
};

} // namespace PlatformTools
