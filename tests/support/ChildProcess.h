#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace TestSupport
{

// A helper program run as a real separate process with separate arguments, talked
// to through its standard input and output. A child still running when this goes
// is given its end of input and a moment to finish, then killed.
class ChildProcess
{
public:
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // Blocks until a whole line arrives (without its line break); empty at end of output.
    std::string readLine();
    // True when output is waiting to be read, without blocking.
    bool hasOutput();
    void writeLine(const std::string& line);
    // Closes the child's standard input, which tells a waiting child to finish.
    void closeInput();
    void kill(int signal);
    // Waits for the end and returns the raw wait status.
    int wait();
    // Waits for the end and returns the exit code, or -1 when the child did not exit.
    int exitCode();

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::string m_buffer;
    bool m_waited = false;
    int m_status = -1;
};

// The helper program of the test target that defines TESSARY_TEST_HELPER.
#ifdef TESSARY_TEST_HELPER
inline std::string helperProgram()
{
    return TESSARY_TEST_HELPER;
}
#endif

} // namespace TestSupport
