#pragma once

#include <string>
#include <vector>

namespace PlatformTools
{

// Runs a program found on PATH with separate arguments, no shell, and waits for it.
class CChildProcess
{
public:
    // The full path of a program on PATH, or empty.
    static std::string findProgram(const std::string& sName);
    enum Output
    {
        Inherit,
        DiscardStdout,
        DiscardAll
    };
    // Returns the exit status; throws CToolError when it cannot start or is killed by a signal.
    static int run(const std::vector<std::string>& lArguments, Output output);
};

} // namespace PlatformTools
