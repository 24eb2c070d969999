// cpio: the subset of libarchive's bsdcpio that package handling uses, with its refusals of
// absolute names, ".." components and writing through symbolic links.
#include "platform/tools/src/CpioArchive.h"
#include "platform/tools/src/RegularFile.h"
#include "platform/tools/src/ToolError.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace PlatformTools;

namespace
{
const char* const kUsage = "usage: cpio -i [-dmuv] [-F|-I ARCHIVE]\n"
                           "       cpio -t [-v] [-F|-I ARCHIVE]\n"
                           "       cpio -o [-vz0] [-H odc|--format odc] [-F|-O ARCHIVE] < names\n";

struct SOptions
{
    char mode = 0;
    bool bVerbose = false;
    bool bGzip = false;
    bool bNull = false;
    std::string sArchive;
};

SOptions parse(int argc, char** argv)
{
    SOptions options;
    auto setMode = [&](char m)
    {
        // "-it" lists, as with bsdcpio.
        if ((options.mode == 'i' && m == 't') || (options.mode == 't' && m == 'i'))
            m = 't';
        else if (options.mode && options.mode != m)
            throw CToolError("only one of -i, -o and -t may be given");
        options.mode = m;
    };
    auto checkFormat = [](const std::string& sFormat)
    {
        if (sFormat != "odc")
            throw CToolError("unsupported format \"" + sFormat + "\" (only odc is written)");
    };
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&](const std::string& sName) -> std::string
        {
            if (i + 1 >= argc)
                throw CToolError("option " + sName + " needs a value");
            return argv[++i];
        };
        if (arg.size() < 2 || arg[0] != '-')
            throw CToolError("unexpected argument \"" + arg + "\" (patterns are not supported)");
        if (arg == "--format")
            checkFormat(value(arg));
        else if (arg.compare(0, 9, "--format=") == 0)
            checkFormat(arg.substr(9));
        else if (arg == "--file")
            options.sArchive = value(arg);
        else if (arg.compare(0, 7, "--file=") == 0)
            options.sArchive = arg.substr(7);
        else if (arg == "--null")
            options.bNull = true;
        else if (arg == "--quiet" || arg == "--make-directories" ||
                 arg == "--preserve-modification-time" || arg == "--unconditional")
            continue;
        else if (arg == "--verbose")
            options.bVerbose = true;
        else if (arg.compare(0, 2, "--") == 0)
            throw CToolError("unknown option " + arg);
        else
            for (std::size_t k = 1; k < arg.size(); ++k)
            {
                const char c = arg[k];
                if (c == 'i' || c == 'o' || c == 't')
                    setMode(c);
                else if (c == 'v')
                    options.bVerbose = true;
                else if (c == 'z')
                    options.bGzip = true;
                else if (c == '0')
                    options.bNull = true;
                else if (c == 'd' || c == 'm' || c == 'u')
                    continue; // directories, times and replacement are always handled
                else if (c == 'F' || c == 'I' || c == 'O' || c == 'H')
                {
                    const std::string v =
                        k + 1 < arg.size() ? arg.substr(k + 1) : value("-" + std::string(1, c));
                    if (c == 'H')
                        checkFormat(v);
                    else
                        options.sArchive = v;
                    break;
                }
                else
                    throw CToolError(std::string("unknown option -") + c);
            }
    }
    if (!options.mode)
        throw CToolError("one of -i, -o or -t is required");
    return options;
}

int openInput(const SOptions& options)
{
    if (options.sArchive.empty())
        return STDIN_FILENO;
    return CRegularFile::open(options.sArchive);
}

std::vector<std::string> readNames(bool bNull)
{
    std::vector<std::string> names;
    std::string sName;
    while (std::getline(std::cin, sName, bNull ? '\0' : '\n'))
        if (!sName.empty())
            names.push_back(sName);
    return names;
}
} // namespace

int main(int argc, char** argv)
{
    try
    {
        const SOptions options = parse(argc, argv);
        if (options.mode == 'i')
            CCpioArchive::extract(openInput(options), ".", options.bVerbose ? &std::cerr : nullptr);
        else if (options.mode == 't')
            for (const std::string& sName : CCpioArchive::list(openInput(options)))
                std::cout << sName << '\n';
        else
        {
            int fd = STDOUT_FILENO;
            if (!options.sArchive.empty())
            {
                fd = ::open(options.sArchive.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                            0666);
                if (fd < 0)
                    throw CToolError::fromErrno("cannot create " + options.sArchive);
            }
            CCpioArchive::create(".", readNames(options.bNull), fd, options.bGzip,
                                 options.bVerbose ? &std::cerr : nullptr);
            if (fd != STDOUT_FILENO && ::close(fd) != 0)
                throw CToolError::fromErrno("cannot write " + options.sArchive);
        }
        std::cout.flush();
        return std::cout ? 0 : 1;
    }
    catch (const std::exception& error)
    {
        std::cerr << "cpio: " << error.what() << '\n';
        if (argc < 2)
            std::cerr << kUsage;
        return 1;
    }
}
