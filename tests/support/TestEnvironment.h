#pragma once

#include <string>
#include <vector>

namespace TestSupport
{

// Gives the test process a private working directory with its own HOME,
// XDG_CONFIG_HOME, XDG_RUNTIME_DIR and CFFIXED_USER_HOME, so tests never touch the developer's
// settings and can run in parallel. Removed again at exit.
void setUpProcessEnvironment();

// The private directory made by setUpProcessEnvironment().
const std::string& testDirectory();

// Source and build trees, from the environment ctest gives each test.
std::string sourceDirectory();
std::string binaryDirectory();
// Where the stand-in command-line tools are built.
std::string toolsDirectory();

// Runs a command line through /bin/sh and returns its exit status (-1 when it
// could not run); its standard output goes to *output when given.
int runCommand(const std::string& command, std::string* output = nullptr);

// A file's bytes; throws std::runtime_error when it cannot be read, so that a
// missing file fails the test with its name instead of comparing as empty.
std::string readFile(const std::string& path);
// Writes bytes to path (making its folders) and gives it mode; throws
// std::runtime_error when it cannot.
void writeFile(const std::string& path, const std::string& bytes, int mode = 0644);

struct ProgramResult
{
    int status = -1; // exit status, -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a program (a path, or a name looked up on PATH) with separate arguments and
// no shell, in directory (empty: the current one), with input as its standard input.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& directory = std::string(),
                         const std::string& input = std::string());

} // namespace TestSupport
