// xar: creates, lists and extracts xar archives with the options of Apple's tool that package
// handling needs.
#include "platform/tools/src/ReportText.h"
#include "platform/tools/src/SafeTarget.h"
#include "platform/tools/src/SigningIdentity.h"
#include "platform/tools/src/ToolError.h"
#include "platform/tools/src/XarReader.h"
#include "platform/tools/src/XarWriter.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <regex.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace PlatformTools;

namespace
{
const char* const kUsage =
    "usage: xar -c [-v] -f ARCHIVE [-C DIR] [--compression none|gzip] [--no-compress REGEX] "
    "PATH...\n"
    "              [--sign-identity FILE.p12 [--sign-password-file FILE | --sign-password-env "
    "VARIABLE]\n"
    "               [--timestamp-url URL]]\n"
    "       xar -x [-v] -f ARCHIVE [-C DIR] [REGEX...]\n"
    "       xar -t [-v] -f ARCHIVE\n";

struct SOptions
{
    char mode = 0;
    bool bVerbose = false;
    std::string sArchive;
    std::string sDirectory;
    bool bCompress = true;
    std::vector<std::string> lNoCompress;
    std::vector<std::string> lOperands;
    std::string sIdentity, sPasswordFile, sPasswordVariable, sTimestampUrl;
};

class CRegex
{
public:
    explicit CRegex(const std::string& sPattern)
    {
        const int rc = regcomp(&m_regex, sPattern.c_str(), REG_EXTENDED | REG_NOSUB);
        if (rc != 0)
        {
            char message[256];
            regerror(rc, &m_regex, message, sizeof message);
            throw CToolError("bad regular expression \"" + sPattern + "\": " + message);
        }
    }
    ~CRegex() { regfree(&m_regex); }
    CRegex(const CRegex&) = delete;
    CRegex& operator=(const CRegex&) = delete;
    bool matches(const std::string& s) const
    {
        return regexec(&m_regex, s.c_str(), 0, nullptr, 0) == 0;
    }

private:
    regex_t m_regex;
};

SOptions parse(int argc, char** argv)
{
    SOptions options;
    auto setMode = [&](char m)
    {
        if (options.mode && options.mode != m)
            throw CToolError("only one of -c, -x and -t may be given");
        options.mode = m;
    };
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&](const std::string& sName) -> std::string
        {
            if (i + 1 >= argc)
                throw CToolError("option " + sName + " needs a value");
            return argv[++i];
        };
        if (bOptionsEnded || arg.size() < 2 || arg[0] != '-')
        {
            options.lOperands.push_back(arg);
            continue;
        }
        if (arg == "--")
            bOptionsEnded = true;
        else if (arg.compare(0, 14, "--compression=") == 0 || arg == "--compression")
        {
            const std::string v = arg == "--compression" ? value(arg) : arg.substr(14);
            if (v == "none")
                options.bCompress = false;
            else if (v == "gzip" || v == "zlib")
                options.bCompress = true;
            else
                throw CToolError("unsupported compression \"" + v + "\"");
        }
        else if (arg == "--no-compress")
            options.lNoCompress.push_back(value(arg));
        else if (arg.compare(0, 14, "--no-compress=") == 0)
            options.lNoCompress.push_back(arg.substr(14));
        else if (arg == "--sign-identity")
            options.sIdentity = value(arg);
        else if (arg == "--sign-password-file")
            options.sPasswordFile = value(arg);
        else if (arg == "--sign-password-env")
            options.sPasswordVariable = value(arg);
        else if (arg == "--timestamp-url")
            options.sTimestampUrl = value(arg);
        else if (arg.compare(0, 2, "--") == 0)
            throw CToolError("unknown option " + arg);
        else
        {
            // Clustered letters as in "-xf archive" or "-xvf archive".
            for (std::size_t k = 1; k < arg.size(); ++k)
            {
                const char c = arg[k];
                if (c == 'c' || c == 'x' || c == 't')
                    setMode(c);
                else if (c == 'v')
                    options.bVerbose = true;
                else if (c == 'f' || c == 'C')
                {
                    std::string v =
                        k + 1 < arg.size() ? arg.substr(k + 1) : value("-" + std::string(1, c));
                    (c == 'f' ? options.sArchive : options.sDirectory) = v;
                    break;
                }
                else
                    throw CToolError(std::string("unknown option -") + c);
            }
        }
    }
    if (!options.mode)
        throw CToolError("one of -c, -x or -t is required");
    if (options.sArchive.empty())
        throw CToolError("-f ARCHIVE is required");
    if (options.sIdentity.empty() &&
        (!options.sPasswordFile.empty() || !options.sPasswordVariable.empty()))
        throw CToolError("a password was given without --sign-identity");
    if (options.sIdentity.empty() && !options.sTimestampUrl.empty())
        throw CToolError("--timestamp-url goes with --sign-identity");
    if (!options.sIdentity.empty() && options.mode != 'c')
        throw CToolError("--sign-identity goes with -c");
    if (!options.sPasswordFile.empty() && !options.sPasswordVariable.empty())
        throw CToolError("give either --sign-password-file or --sign-password-env");
    return options;
}

// Writes a member's data into a new file at sName.
void extractData(const CXarReader& reader, const CXarReader::Entry& entry, CSafeTarget& target,
                 const std::string& sName)
{
    const int fd =
        target.createFile(sName, entry.mode >= 0 ? static_cast<mode_t>(entry.mode) : 0644);
    try
    {
        reader.readData(entry,
                        [&](const char* p, std::size_t n)
                        {
                            while (n > 0)
                            {
                                const ssize_t written = ::write(fd, p, n);
                                if (written <= 0)
                                    throw CToolError::fromErrno("cannot write " + sName);
                                p += written;
                                n -= static_cast<std::size_t>(written);
                            }
                        });
        if (::close(fd) != 0)
            throw CToolError::fromErrno("cannot write " + sName);
    }
    catch (...)
    {
        ::close(fd);
        target.removeFile(sName);
        throw;
    }
    if (entry.mtime)
        target.setModificationTime(sName, entry.mtime);
}

void extract(const SOptions& options)
{
    CXarReader reader(options.sArchive);
    std::vector<std::unique_ptr<CRegex>> patterns;
    for (const std::string& sPattern : options.lOperands)
        patterns.push_back(std::make_unique<CRegex>(sPattern));
    auto selected = [&](const CXarReader::Entry& entry)
    {
        bool bMatch = patterns.empty();
        for (const auto& pattern : patterns)
            bMatch = bMatch || pattern->matches(entry.sPath);
        return bMatch;
    };
    CSafeTarget target(options.sDirectory.empty() ? "." : options.sDirectory);
    std::size_t extracted = 0;
    std::string sRefused;
    for (const CXarReader::Entry& entry : reader.entries())
    {
        if (!selected(entry))
            continue;
        const std::string sName = CSafeTarget::normalizeMemberName(entry.sPath);
        if (sName.empty())
            continue;
        if (options.bVerbose)
            std::cout << entry.sPath << '\n';
        const mode_t mode = entry.mode >= 0 ? static_cast<mode_t>(entry.mode) : 0;
        switch (entry.type)
        {
        case CXarReader::Entry::Directory:
            target.makeDirectory(sName, entry.mode >= 0 ? mode : 0755, entry.mtime);
            break;
        case CXarReader::Entry::File:
            extractData(reader, entry, target, sName);
            break;
        case CXarReader::Entry::Symlink:
            target.makeSymlink(sName, entry.sLinkTarget);
            break;
        case CXarReader::Entry::Hardlink:
        {
            // A link asked for without its file gets the file's data.
            const CXarReader::Entry& original = reader.entries()[entry.original];
            if (selected(original))
                target.makeHardlink(sName, entry.sLinkTarget);
            else
                extractData(reader, original, target, sName);
            break;
        }
        case CXarReader::Entry::Fifo:
            target.makeFifo(sName, entry.mode >= 0 ? mode : 0644);
            break;
        case CXarReader::Entry::Other:
            // Device nodes from an archive are not made; the run fails once the rest is out.
            std::cerr << "xar: refusing " << entry.sPath << " of the type \"" << entry.sTypeName
                      << "\"\n";
            if (sRefused.empty())
                sRefused = "refusing " + entry.sPath + " of the type \"" + entry.sTypeName +
                           "\"; everything else was extracted";
            continue;
        }
        ++extracted;
    }
    target.finish();
    if (!sRefused.empty())
        throw CToolError(sRefused);
    if (!patterns.empty() && extracted == 0)
        std::cerr << "xar: no member of " << options.sArchive << " matches\n";
}

void create(const SOptions& options)
{
    if (options.lOperands.empty())
        throw CToolError("nothing to archive: give at least one path");
    std::vector<std::unique_ptr<CRegex>> stored;
    for (const std::string& sPattern : options.lNoCompress)
        stored.push_back(std::make_unique<CRegex>(sPattern));
    // Relative archive names resolve against the starting directory, also with -C.
    std::string sArchive = options.sArchive;
    if (sArchive[0] != '/')
    {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd))
            throw CToolError::fromErrno("cannot determine the working directory");
        sArchive = std::string(cwd) + "/" + sArchive;
    }
    // The identity is loaded before anything is written, so a wrong password costs nothing.
    std::shared_ptr<CSigningIdentity> pIdentity;
    if (!options.sIdentity.empty())
        pIdentity =
            CSigningIdentity::forCommandLine(options.sIdentity, options.sPasswordFile,
                                             options.sPasswordVariable, options.sTimestampUrl);
    if (!options.sDirectory.empty() && ::chdir(options.sDirectory.c_str()) != 0)
        throw CToolError::fromErrno("cannot enter " + options.sDirectory);
    CXarWriter writer;
    writer.setSigner(pIdentity);
    writer.setCompressionRule(
        [&](const std::string& sMember)
        {
            if (!options.bCompress)
                return false;
            for (const auto& pattern : stored)
                if (pattern->matches(sMember))
                    return false;
            return true;
        });
    for (const std::string& sPath : options.lOperands)
    {
        const std::string sMember = CSafeTarget::normalizeMemberName(sPath);
        // Parents named in the path become directory members with their own permissions.
        for (std::size_t slash = sMember.find('/'); slash != std::string::npos;
             slash = sMember.find('/', slash + 1))
        {
            struct stat st;
            const std::string sParent = sMember.substr(0, slash);
            if (::stat(sParent.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                writer.addDirectory(sParent, st.st_mode, st.st_mtime);
        }
        if (options.bVerbose)
            std::cout << sPath << '\n';
        writer.addTree(sMember, sPath);
    }
    writer.write(sArchive);
}

void list(const SOptions& options)
{
    CXarReader reader(options.sArchive);
    for (const CXarReader::Entry& entry : reader.entries())
        std::cout << entry.sPath << '\n';
}
} // namespace

int main(int argc, char** argv)
{
    try
    {
        const SOptions options = parse(argc, argv);
        if (options.mode == 'x')
            extract(options);
        else if (options.mode == 'c')
            create(options);
        else
            list(options);
        std::cout.flush();
        if (!std::cout)
            throw CToolError("cannot write the output");
        return 0;
    }
    catch (const CToolError& error)
    {
        std::cerr << "xar: " << CReportText::escaped(error.what()) << '\n';
        if (argc < 2)
            std::cerr << kUsage;
        return 1;
    }
    catch (const std::exception& error)
    {
        std::cerr << "xar: " << CReportText::escaped(error.what()) << '\n';
        return 1;
    }
}
