#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A helper program run with separate arguments, its standard input and output
// connected to this process.
class ChildProcess
{
public:
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads one line of the child's output (without the line break).
    std::string ReadLine();
    // Closes the child's standard input, which tells a waiting child to finish.
    void CloseInput();
    // Waits for the child and returns its exit status (-1 when it did not exit).
    int Wait();
    void Kill(int signal);

private:
    pid_t m_nPid = -1;
    int m_nInput = -1;
    int m_nOutput = -1;
};

// The helper program built next to the tests.
std::string HelperPath();
