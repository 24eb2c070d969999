#include "ChildProcess.h"

#include <csignal>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::ChildProcess(const std::vector<std::string>& arguments)
{
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0)
        throw std::runtime_error("cannot create the pipes for " + arguments.at(0));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int error =
        posix_spawn(&m_nPid, arguments.at(0).c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    m_nInput = input[1];
    m_nOutput = output[0];
    if (error != 0)
    {
        m_nPid = -1;
        throw std::runtime_error("cannot start " + arguments.at(0));
    }
}

ChildProcess::~ChildProcess()
{
    CloseInput();
    if (m_nPid > 0)
        Wait();
    if (m_nOutput >= 0)
        close(m_nOutput);
}

std::string ChildProcess::ReadLine()
{
    std::string line;
    char c;
    while (read(m_nOutput, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

void ChildProcess::CloseInput()
{
    if (m_nInput >= 0)
        close(m_nInput);
    m_nInput = -1;
}

int ChildProcess::Wait()
{
    int status = 0;
    const pid_t pid = m_nPid;
    m_nPid = -1;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::Kill(int signal)
{
    if (m_nPid > 0)
        kill(m_nPid, signal);
}

std::string HelperPath()
{
    return PREFERENCE_TEST_HELPER;
}
