#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace TestSupport
{

ChildProcess::ChildProcess(const std::vector<std::string>& arguments)
{
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0)
        throw std::runtime_error("cannot make pipes for the helper");
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
    const int error = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    m_toChild = input[1];
    m_fromChild = output[0];
    if (error != 0)
    {
        m_waited = true;
        close(m_toChild);
        close(m_fromChild);
        throw std::runtime_error("cannot start " + arguments.front());
    }
}

ChildProcess::~ChildProcess()
{
    closeInput();
    if (!m_waited)
    {
        // A child that ends when its input ends gets two seconds to do so.
        for (int i = 0; i < 200 && !m_waited; ++i)
        {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            {
                m_waited = true;
                m_status = status;
            }
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!m_waited)
        {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }
    close(m_fromChild);
}

std::string ChildProcess::readLine()
{
    for (;;)
    {
        const std::size_t end = m_buffer.find('\n');
        if (end != std::string::npos)
        {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        char chunk[256];
        const ssize_t n = read(m_fromChild, chunk, sizeof chunk);
        if (n <= 0)
            return std::string();
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ChildProcess::hasOutput()
{
    if (!m_buffer.empty())
        return true;
    pollfd descriptor = {m_fromChild, POLLIN, 0};
    return poll(&descriptor, 1, 0) > 0;
}

void ChildProcess::writeLine(const std::string& line)
{
    const std::string text = line + "\n";
    if (write(m_toChild, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write to the helper");
}

void ChildProcess::closeInput()
{
    if (m_toChild != -1)
        close(m_toChild);
    m_toChild = -1;
}

void ChildProcess::kill(int signal)
{
    if (!m_waited)
        ::kill(m_pid, signal);
}

int ChildProcess::wait()
{
    if (m_waited)
        return m_status;
    int status = -1;
    while (waitpid(m_pid, &status, 0) == -1 && errno == EINTR)
    {
    }
    m_waited = true;
    m_status = status;
    return status;
}

int ChildProcess::exitCode()
{
    const int status = wait();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace TestSupport
