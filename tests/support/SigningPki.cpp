#include "SigningPki.h"

#include "TestEnvironment.h"

#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace TestSupport
{
namespace
{
// Authorities reach back far enough for leaves and time stamps of years past.
const char* const kAuthoritiesFrom = "20190101000000Z";

const char* const kConfig = R"([req]
distinguished_name = dn
prompt = no
string_mask = utf8only
[dn]
CN = unused
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v3_installer]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,1.2.840.113635.100.4.13
[v3_code]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[v3_web]
basicConstraints = critical,CA:FALSE
keyUsage = critical,keyEncipherment
extendedKeyUsage = serverAuth
[v3_nodigital]
basicConstraints = critical,CA:FALSE
keyUsage = critical,keyEncipherment
extendedKeyUsage = codeSigning
[v3_tsa]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
[ca]
default_ca = ca_section
[ca_section]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = policy_any
unique_subject = no
string_mask = utf8only
preserve = yes
email_in_dn = no
[policy_any]
commonName = supplied
)";

const char* extensions(SigningPki::Usage usage)
{
    switch (usage)
    {
    case SigningPki::InstallerSigning:
        return "v3_installer";
    case SigningPki::CodeSigning:
        return "v3_code";
    case SigningPki::WebServer:
        return "v3_web";
    case SigningPki::NoDigitalSignature:
        return "v3_nodigital";
    case SigningPki::TimeStamping:
        break;
    }
    return "v3_tsa";
}
} // namespace

SigningPki::SigningPki(const std::string& directory)
    : m_directory(std::filesystem::absolute(directory).string())
{
    std::filesystem::create_directories(m_directory);
    writeFile(m_directory + "/pki.cnf", kConfig);
    writeFile(m_directory + "/index.txt", "");
    writeFile(m_directory + "/serial", "1000\n");
    // Kept as a careful signer keeps them: the program refuses keys others may read.
    writeFile(passwordFile(), password() + "\n", 0600);
    makeRoot("root", "Tessary Test Root");
    openssl({"req", "-config", "pki.cnf", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout",
             "intermediate.key", "-out", "intermediate.csr", "-subj",
             "/CN=Tessary Test Installer CA"});
    openssl({"ca", "-batch", "-config", "pki.cnf", "-cert", "root.pem", "-keyfile", "root.key",
             "-extensions", "v3_ca", "-notext", "-startdate", kAuthoritiesFrom, "-enddate",
             timeFromNow(20LL * 365 * 86400), "-in", "intermediate.csr", "-out",
             "intermediate.pem"});
    writeFile(m_directory + "/intermediate-chain.pem",
              readFile(m_directory + "/intermediate.pem") + readFile(root()));
}

SigningPki::Leaf SigningPki::issue(const std::string& name, const std::string& commonName,
                                   Usage usage, const std::string& notBefore,
                                   const std::string& notAfter)
{
    return issueFrom("intermediate", m_directory + "/intermediate-chain.pem", name, commonName,
                     usage, notBefore, notAfter);
}

SigningPki::Leaf SigningPki::issueUntrusted(const std::string& name, const std::string& commonName,
                                            Usage usage, const std::string& rootCommonName,
                                            const std::string& notBefore,
                                            const std::string& notAfter)
{
    const std::string root = name + "-root";
    makeRoot(root, rootCommonName);
    return issueFrom(root, m_directory + "/" + root + ".pem", name, commonName, usage, notBefore,
                     notAfter);
}

std::string SigningPki::timeStampingAuthority(const std::string& name, bool trusted)
{
    const std::string until = timeFromNow(15LL * 365 * 86400);
    const Leaf leaf =
        trusted ? issue(name, "Tessary Test Time Stamps", TimeStamping, kAuthoritiesFrom, until)
                : issueUntrusted(name, "Tessary Test Time Stamps", TimeStamping,
                                 "Tessary Test Root", kAuthoritiesFrom, until);
    const std::string authority = m_directory + "/" + name + "-tsa";
    std::filesystem::create_directories(authority);
    writeFile(authority + "/tsa.pem", readFile(leaf.certificate));
    writeFile(authority + "/tsa.key", readFile(leaf.key));
    writeFile(authority + "/chain.pem", readFile(leaf.chain));
    return authority;
}

SigningPki::Leaf SigningPki::issueFrom(const std::string& issuer, const std::string& issuerChain,
                                       const std::string& name, const std::string& commonName,
                                       Usage usage, const std::string& notBefore,
                                       const std::string& notAfter)
{
    openssl({"req", "-config", "pki.cnf", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout",
             name + ".key", "-out", name + ".csr", "-utf8", "-subj", "/CN=" + commonName});
    openssl({"ca",          "-batch",
             "-config",     "pki.cnf",
             "-cert",       issuer + ".pem",
             "-keyfile",    issuer + ".key",
             "-extensions", extensions(usage),
             "-notext",     "-utf8",
             "-startdate",  notBefore.empty() ? timeFromNow(-3600) : notBefore,
             "-enddate",    notAfter.empty() ? timeFromNow(365LL * 86400) : notAfter,
             "-in",         name + ".csr",
             "-out",        name + ".pem"});
    Leaf leaf;
    leaf.key = m_directory + "/" + name + ".key";
    leaf.certificate = m_directory + "/" + name + ".pem";
    leaf.chain = issuerChain;
    leaf.identity = m_directory + "/" + name + ".p12";
    openssl({"pkcs12", "-export", "-inkey", leaf.key, "-in", leaf.certificate, "-certfile",
             leaf.chain, "-out", leaf.identity, "-passout", "file:" + passwordFile()});
    ::chmod(leaf.identity.c_str(), 0600);
    return leaf;
}

void SigningPki::makeRoot(const std::string& name, const std::string& commonName) const
{
    openssl({"req", "-config", "pki.cnf", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout",
             name + ".key", "-out", name + ".csr", "-utf8", "-subj", "/CN=" + commonName});
    openssl({"ca", "-batch", "-config", "pki.cnf", "-selfsign", "-keyfile", name + ".key",
             "-extensions", "v3_ca", "-notext", "-startdate", kAuthoritiesFrom, "-enddate",
             timeFromNow(20LL * 365 * 86400), "-in", name + ".csr", "-out", name + ".pem"});
}

void SigningPki::openssl(const std::vector<std::string>& arguments) const
{
    const ProgramResult result = runProgram("openssl", arguments, m_directory);
    if (result.status != 0)
        throw std::runtime_error("openssl " + arguments.front() + ": " + result.err);
}

void SigningPki::signPackage(const Leaf& signer, const std::string& output,
                             const std::vector<std::string>& members,
                             const std::vector<std::string>& options)
{
    std::vector<std::string> arguments{sourceDirectory() + "/tests/tools/xar_sign.py",
                                       output,
                                       "--key",
                                       signer.key,
                                       "--cert",
                                       signer.certificate,
                                       "--chain",
                                       signer.chain};
    for (const std::string& member : members)
        arguments.insert(arguments.end(), {"--file", member});
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProgramResult result = runProgram("python3", arguments);
    if (result.status != 0)
        throw std::runtime_error("xar_sign.py: " + result.out + result.err);
}

std::string SigningPki::timeFromNow(long long seconds)
{
    const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(seconds);
    struct tm parts;
    gmtime_r(&when, &parts);
    char text[20];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
    return text;
}

TimeStampingServer::TimeStampingServer(const std::string& authority, const std::string& mode)
    : m_process(std::make_unique<ChildProcess>(std::vector<std::string>{
          "/usr/bin/env", "python3", sourceDirectory() + "/tests/tools/timestamp_authority.py",
          "serve", authority, mode}))
{
    const std::string port = m_process->readLine();
    if (port.empty())
        throw std::runtime_error("the time-stamping authority did not start");
    m_url = "http://127.0.0.1:" + port + "/tsa";
}

} // namespace TestSupport
