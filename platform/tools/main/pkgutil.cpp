// pkgutil: expands a flat package into a directory and flattens one back, as Apple's tool does,
// signs what it flattens when given an identity, and reports a package's signature.
#include "platform/tools/src/FlatPackage.h"
#include "platform/tools/src/SigningIdentity.h"
#include "platform/tools/src/ToolError.h"
#include "platform/tools/src/XarSignature.h"

#include <ctime>
#include <iostream>
#include <string>
#include <vector>

using namespace PlatformTools;

namespace
{
const char* const kUsage =
    "usage: pkgutil --expand PACKAGE DIRECTORY\n"
    "       pkgutil --flatten DIRECTORY PACKAGE [--sign-identity FILE.p12\n"
    "               [--sign-password-file FILE | --sign-password-env VARIABLE]]\n"
    "       pkgutil --check-signature PACKAGE\n"
    "       pkgutil --check-identity FILE.p12 [--sign-password-file FILE |\n"
    "               --sign-password-env VARIABLE]\n"
    "The identity's password comes from the file, the named variable or else\n"
    "TESSARY_SIGN_PASSWORD; it is never taken from the command line.\n";

std::string formatTime(std::time_t t)
{
    struct tm parts;
    gmtime_r(&t, &parts);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return buffer;
}

// One certificate of a chain: its number, name, issuer and validity, as both reports give them.
void printCertificate(int number, const CXarSignature::SCertificate& certificate)
{
    std::cout << "    " << number << ". "
              << (certificate.sSubjectCommonName.empty() ? certificate.sSubject
                                                         : certificate.sSubjectCommonName)
              << "\n       Issued by: "
              << (certificate.sIssuerCommonName.empty() ? certificate.sIssuer
                                                        : certificate.sIssuerCommonName)
              << "\n       Valid from: " << formatTime(certificate.notBefore)
              << "\n       Expires: " << formatTime(certificate.notAfter);
}

// The report follows Apple's layout: a status line, then the chain from the signer upwards.
int checkSignature(const std::string& sPackage)
{
    const CXarSignature::SVerification result = CXarSignature::verify(sPackage, std::time(nullptr));
    std::cout << "Package \"" << sPackage << "\":\n   Status: ";
    if (result.status == CXarSignature::Unsigned)
    {
        std::cout << "no signature\n";
        return 1;
    }
    if (result.status == CXarSignature::Damaged)
    {
        std::cout << "damaged archive: " << result.sProblem << '\n';
        return 1;
    }
    if (result.status == CXarSignature::Invalid)
    {
        std::cout << "invalid signature: " << result.sProblem << '\n';
        return 1;
    }
    switch (result.trust)
    {
    case CXarSignature::Trusted:
        std::cout << "signed by a certificate trusted by this system\n";
        break;
    case CXarSignature::Expired:
        std::cout << "signed by a certificate that has since expired\n";
        break;
    case CXarSignature::Untrusted:
        std::cout << "signed by untrusted certificate\n";
        break;
    }
    if (result.trust != CXarSignature::Trusted && !result.sTrustProblem.empty())
        std::cout << "   Reason: " << result.sTrustProblem << '\n';
    std::cout << "   Signature: RSA with " << result.info.sChecksumStyle;
    if (result.info.bHasCms)
        std::cout << ", CMS with " << result.sCmsDigest;
    std::cout << "\n   Certificate Chain:\n";
    int number = 0;
    for (const CXarSignature::SCertificate& certificate : result.info.lCertificates)
    {
        printCertificate(++number, certificate);
        std::cout << "\n       SHA256 Fingerprint:";
        const std::string& sPrint = certificate.sSha256Fingerprint;
        for (std::size_t i = 0; i < sPrint.size(); i += 48)
            std::cout << "\n           " << sPrint.substr(i, 47);
        std::cout << "\n       "
                     "------------------------------------------------------------------------\n";
    }
    return 0;
}

// What a signer would put its name to, so that a wrong password or an unsuitable identity is
// known before any publishing starts.
int checkIdentity(const std::shared_ptr<CSigningIdentity>& pIdentity, const std::string& sPath)
{
    std::cout << "Identity \"" << sPath << "\":\n";
    const std::time_t now = std::time(nullptr);
    int number = 0;
    for (const std::string& sDer : pIdentity->certificates())
    {
        const CXarSignature::SCertificate certificate = CXarSignature::describeCertificate(sDer);
        printCertificate(++number, certificate);
        std::cout << '\n';
        if (number == 1 && (now < certificate.notBefore || now > certificate.notAfter))
        {
            std::cerr << "pkgutil: the certificate of " << sPath
                      << " is not valid now: it is valid from " << formatTime(certificate.notBefore)
                      << " to " << formatTime(certificate.notAfter) << '\n';
            return 1;
        }
    }
    return 0;
}

struct SFlattenOptions
{
    std::vector<std::string> lOperands;
    std::string sIdentity, sPasswordFile, sPasswordVariable;
};

SFlattenOptions parseFlatten(int argc, char** argv, std::size_t nOperands = 2)
{
    SFlattenOptions options;
    for (int i = 2; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string
        {
            if (i + 1 >= argc)
                throw CToolError("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--sign-identity")
            options.sIdentity = value();
        else if (arg == "--sign-password-file")
            options.sPasswordFile = value();
        else if (arg == "--sign-password-env")
            options.sPasswordVariable = value();
        else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
            throw CToolError("unknown option " + arg);
        else
            options.lOperands.push_back(arg);
    }
    if (options.lOperands.size() != nOperands)
        throw CToolError(nOperands == 2 ? "--flatten needs a directory and a package"
                                        : "--check-identity needs one identity file");
    if (nOperands == 1)
    {
        if (!options.sIdentity.empty())
            throw CToolError("--check-identity takes the identity as its operand");
        options.sIdentity = options.lOperands[0];
    }
    if (options.sIdentity.empty() &&
        (!options.sPasswordFile.empty() || !options.sPasswordVariable.empty()))
        throw CToolError("a password was given without --sign-identity");
    if (!options.sPasswordFile.empty() && !options.sPasswordVariable.empty())
        throw CToolError("give either --sign-password-file or --sign-password-env");
    return options;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string sCommand = argc > 1 ? argv[1] : "";
    const bool bKnown =
        (sCommand == "--expand" && argc == 4) || (sCommand == "--check-signature" && argc == 3) ||
        (sCommand == "--check-identity" && argc >= 3) || (sCommand == "--flatten" && argc >= 4);
    if (!bKnown)
    {
        std::cerr << kUsage;
        return 1;
    }
    try
    {
        if (sCommand == "--expand")
            CFlatPackage::expand(argv[2], argv[3]);
        else if (sCommand == "--check-signature")
            return checkSignature(argv[2]);
        else
        {
            const bool bCheck = sCommand == "--check-identity";
            const SFlattenOptions options = parseFlatten(argc, argv, bCheck ? 1 : 2);
            std::shared_ptr<CSigningIdentity> pIdentity;
            if (!options.sIdentity.empty())
                pIdentity = CSigningIdentity::fromPkcs12(
                    options.sIdentity,
                    CSigningIdentity::passwordFrom(options.sPasswordFile,
                                                   options.sPasswordVariable.empty()
                                                       ? "TESSARY_SIGN_PASSWORD"
                                                       : options.sPasswordVariable,
                                                   options.sPasswordVariable.empty()));
            if (bCheck)
                return checkIdentity(pIdentity, options.sIdentity);
            CFlatPackage::flatten(options.lOperands[0], options.lOperands[1], pIdentity);
        }
        return 0;
    }
    catch (const std::exception& error)
    {
        const char* sWhat = sCommand == "--expand"           ? "cannot expand "
                            : sCommand == "--flatten"        ? "cannot flatten "
                            : sCommand == "--check-identity" ? "cannot sign with "
                                                             : "cannot check the signature of ";
        std::cerr << "pkgutil: " << sWhat << argv[2] << ": " << error.what() << '\n';
        return 1;
    }
}
