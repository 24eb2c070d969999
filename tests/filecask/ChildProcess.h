#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A helper program run as a real separate process, talked to through its
// standard input and output.
class ChildProcess
{
public:
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // Blocks until a whole line arrives; empty at end of output.
    std::string readLine();
    // True when output is waiting to be read, without blocking.
    bool hasOutput();
    void writeLine(const std::string& line);
    void kill(int signal);
    // Waits for the end and returns the raw wait status.
    int wait();

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::string m_buffer;
    bool m_waited = false;
};

// The path of the helper program built next to the tests.
std::string helperProgram();
