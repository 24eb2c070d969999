// pkgutil: expands a flat package into a directory and flattens one back, as Apple's tool does,
// signs what it flattens when given an identity, and reports a package's signature.
#include "platform/tools/src/FlatPackage.h"
#include "platform/tools/src/ReportText.h"
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
    "               [--sign-password-file FILE | --sign-password-env VARIABLE]\n"
    "               [--timestamp-url URL]]\n"
    "       pkgutil --check-signature PACKAGE [--json]\n"
    "       pkgutil --check-identity FILE.p12 [--sign-password-file FILE |\n"
    "               --sign-password-env VARIABLE] [--timestamp-url URL] [--json]\n"
    "The identity's password comes from the file, the named variable or else\n"
    "TESSARY_SIGN_PASSWORD; it is never taken from the command line.\n";

// Every text from a certificate or a file name goes through this before it is printed.
std::string shown(const std::string& sText)
{
    return CReportText::escaped(sText);
}

std::string nameOf(const CXarSignature::SCertificate& certificate)
{
    return certificate.sSubjectCommonName.empty() ? certificate.sSubject
                                                  : certificate.sSubjectCommonName;
}

std::string listOf(const std::vector<std::string>& lNames, bool bNamed)
{
    if (!bNamed)
        return "(none named)";
    std::string sText;
    for (const std::string& sName : lNames)
        sText += (sText.empty() ? "" : ", ") + shown(sName);
    return sText;
}

// One certificate of a chain: its number, name, issuer, validity and usages, as both reports
// give them.
void printCertificate(int number, const CXarSignature::SCertificate& certificate)
{
    std::cout << "    " << number << ". " << shown(nameOf(certificate)) << "\n       Issued by: "
              << shown(certificate.sIssuerCommonName.empty() ? certificate.sIssuer
                                                             : certificate.sIssuerCommonName)
              << "\n       Valid from: " << CReportText::time(certificate.notBefore)
              << "\n       Expires: " << CReportText::time(certificate.notAfter)
              << "\n       Key usage: " << listOf(certificate.lKeyUsages, certificate.bHasKeyUsage)
              << "\n       Extended key usage: "
              << listOf(certificate.lExtendedKeyUsages, certificate.bHasExtendedKeyUsage);
}

std::string jsonList(const std::vector<std::string>& lItems)
{
    std::string sText = "[";
    for (const std::string& sItem : lItems)
        sText += (sText.size() > 1 ? ", " : "") + CReportText::json(sItem);
    return sText + "]";
}

std::string jsonCertificates(const std::vector<CXarSignature::SCertificate>& lCertificates)
{
    std::string sText = "[";
    for (const CXarSignature::SCertificate& certificate : lCertificates)
    {
        sText +=
            std::string(sText.size() > 1 ? "," : "") +
            "\n    {\"subject\": " + CReportText::json(certificate.sSubject) +
            ", \"commonName\": " + CReportText::json(certificate.sSubjectCommonName) +
            ", \"issuer\": " + CReportText::json(certificate.sIssuer) +
            ", \"issuerCommonName\": " + CReportText::json(certificate.sIssuerCommonName) +
            ", \"notBefore\": " + CReportText::json(CReportText::isoTime(certificate.notBefore)) +
            ", \"notAfter\": " + CReportText::json(CReportText::isoTime(certificate.notAfter)) +
            ", \"keyUsage\": " +
            (certificate.bHasKeyUsage ? jsonList(certificate.lKeyUsages) : "null") +
            ", \"extendedKeyUsage\": " +
            (certificate.bHasExtendedKeyUsage ? jsonList(certificate.lExtendedKeyUsages) : "null") +
            ", \"sha256\": " + CReportText::json(certificate.sSha256Fingerprint) + "}";
    }
    return sText + (sText.size() > 1 ? "\n  ]" : "]");
}

const char* statusName(const CXarSignature::SVerification& result)
{
    switch (result.status)
    {
    case CXarSignature::Unsigned:
        return "unsigned";
    case CXarSignature::Invalid:
        return "invalid";
    case CXarSignature::Damaged:
        return "damaged";
    case CXarSignature::Valid:
        break;
    }
    switch (result.trust)
    {
    case CXarSignature::Trusted:
        return "trusted";
    case CXarSignature::Expired:
        return "expired";
    case CXarSignature::Untrusted:
        break;
    }
    return "untrusted";
}

// The structured report the program reads: every field in its own JSON string, so no name can
// pass for another field.
void printJson(const std::string& sPackage, const CXarSignature::SVerification& result)
{
    const bool bValid = result.status == CXarSignature::Valid;
    const std::string& sProblem = bValid ? result.sTrustProblem : result.sProblem;
    std::cout << "{\n  \"package\": " << CReportText::json(sPackage) << ",\n  \"status\": \""
              << statusName(result) << "\""
              << ",\n  \"problem\": " << CReportText::json(sProblem)
              << ",\n  \"membersChecked\": " << (result.bMembersChecked ? "true" : "false");
    if (bValid)
        std::cout << ",\n  \"signature\": {\"rsa\": "
                  << CReportText::json(result.info.sChecksumStyle) << ", \"cms\": "
                  << (result.info.bHasCms ? CReportText::json(result.sCmsDigest) : "null") << "}";
    if (result.timestamp.bPresent)
        std::cout << ",\n  \"timestamp\": {\"time\": "
                  << (result.timestamp.time
                          ? CReportText::json(CReportText::isoTime(result.timestamp.time))
                          : "null")
                  << ", \"authority\": " << CReportText::json(result.timestamp.sAuthority)
                  << ", \"trusted\": " << (result.timestamp.bHonoured ? "true" : "false")
                  << ", \"problem\": " << CReportText::json(result.timestamp.sProblem) << "}";
    std::cout << ",\n  \"warnings\": " << jsonList(result.lWarnings)
              << ",\n  \"certificates\": " << jsonCertificates(result.info.lCertificates)
              << "\n}\n";
}

// The report follows Apple's layout: a status line, then the chain from the signer upwards.
// The status is always the second line; every name in it is escaped.
int checkSignature(const std::string& sPackage, bool bJson)
{
    const CXarSignature::SVerification result = CXarSignature::verify(sPackage, std::time(nullptr));
    const int rc = result.status == CXarSignature::Valid ? 0 : 1;
    if (bJson)
    {
        printJson(sPackage, result);
        return rc;
    }
    std::cout << "Package \"" << shown(sPackage) << "\":\n   Status: ";
    if (result.status == CXarSignature::Unsigned)
    {
        std::cout << "no signature\n";
        return rc;
    }
    if (result.status != CXarSignature::Valid)
    {
        std::cout << (result.status == CXarSignature::Damaged ? "damaged archive: "
                                                              : "invalid signature: ")
                  << shown(result.sProblem) << '\n';
        return rc;
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
        std::cout << "   Reason: " << shown(result.sTrustProblem) << '\n';
    if (result.timestamp.bHonoured)
        std::cout << "   Signed with a trusted timestamp on: "
                  << CReportText::time(result.timestamp.time) << '\n';
    for (const std::string& sWarning : result.lWarnings)
        std::cout << "   Warning: " << shown(sWarning) << '\n';
    std::cout << "   Signature: RSA with " << shown(result.info.sChecksumStyle);
    if (result.info.bHasCms)
        std::cout << ", CMS with " << shown(result.sCmsDigest);
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
    return rc;
}

// What a signer would put its name to, so that a wrong password or an unsuitable identity is
// known before any publishing starts. Empty when it can sign, else why not.
std::string identityProblem(const std::shared_ptr<CSigningIdentity>& pIdentity,
                            const std::string& sPath)
{
    const CXarSignature::SCertificate leaf =
        CXarSignature::describeCertificate(pIdentity->certificates().front());
    const std::time_t now = std::time(nullptr);
    if (now < leaf.notBefore || now > leaf.notAfter)
        return "the certificate of " + sPath + " is not valid now: it is valid from " +
               CReportText::time(leaf.notBefore) + " to " + CReportText::time(leaf.notAfter);
    pIdentity->checkTimestampAuthority();
    return std::string();
}

int checkIdentity(const std::shared_ptr<CSigningIdentity>& pIdentity, const std::string& sPath,
                  const std::string& sLoadProblem, bool bJson)
{
    std::string sProblem = sLoadProblem;
    if (sProblem.empty())
    {
        try
        {
            sProblem = identityProblem(pIdentity, sPath);
        }
        catch (const CToolError& error)
        {
            sProblem = error.what();
        }
    }
    std::vector<CXarSignature::SCertificate> lChain;
    for (const std::string& sDer :
         pIdentity ? pIdentity->certificates() : std::vector<std::string>())
        lChain.push_back(CXarSignature::describeCertificate(sDer));
    if (bJson)
    {
        std::cout << "{\n  \"identity\": " << CReportText::json(sPath)
                  << ",\n  \"usable\": " << (sProblem.empty() ? "true" : "false")
                  << ",\n  \"problem\": " << CReportText::json(sProblem)
                  << ",\n  \"certificates\": " << jsonCertificates(lChain) << "\n}\n";
    }
    else
    {
        std::cout << "Identity \"" << shown(sPath) << "\":\n";
        int number = 0;
        for (const CXarSignature::SCertificate& certificate : lChain)
        {
            printCertificate(++number, certificate);
            std::cout << '\n';
        }
    }
    if (sProblem.empty())
        return 0;
    std::cerr << "pkgutil: cannot sign with " << shown(sPath) << ": " << shown(sProblem) << '\n';
    return 1;
}

struct SOptions
{
    std::vector<std::string> lOperands;
    std::string sIdentity, sPasswordFile, sPasswordVariable, sTimestampUrl;
    bool bJson = false;
};

// The options after the command; nOperands is what the command takes.
SOptions parseOptions(int argc, char** argv, std::size_t nOperands, bool bSigning)
{
    SOptions options;
    for (int i = 2; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string
        {
            if (i + 1 >= argc)
                throw CToolError("option " + arg + " needs a value");
            return argv[++i];
        };
        if (bSigning && arg == "--sign-identity")
            options.sIdentity = value();
        else if (bSigning && arg == "--sign-password-file")
            options.sPasswordFile = value();
        else if (bSigning && arg == "--sign-password-env")
            options.sPasswordVariable = value();
        else if (bSigning && arg == "--timestamp-url")
            options.sTimestampUrl = value();
        else if (arg == "--json" && nOperands == 1)
            options.bJson = true;
        else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
            throw CToolError("unknown option " + arg);
        else
            options.lOperands.push_back(arg);
    }
    if (options.lOperands.size() != nOperands)
        throw CToolError(std::string(argv[1]) + " needs " +
                         (nOperands == 2 ? "a directory and a package" : "one file"));
    if (!bSigning)
        return options;
    if (nOperands == 1)
    {
        if (!options.sIdentity.empty())
            throw CToolError("--check-identity takes the identity as its operand");
        options.sIdentity = options.lOperands[0];
    }
    if (options.sIdentity.empty() &&
        (!options.sPasswordFile.empty() || !options.sPasswordVariable.empty() ||
         !options.sTimestampUrl.empty()))
        throw CToolError("a password or time-stamping authority was given without "
                         "--sign-identity");
    if (!options.sPasswordFile.empty() && !options.sPasswordVariable.empty())
        throw CToolError("give either --sign-password-file or --sign-password-env");
    return options;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string sCommand = argc > 1 ? argv[1] : "";
    const bool bKnown =
        (sCommand == "--expand" && argc == 4) || (sCommand == "--check-signature" && argc >= 3) ||
        (sCommand == "--check-identity" && argc >= 3) || (sCommand == "--flatten" && argc >= 4);
    if (!bKnown)
    {
        std::cerr << kUsage;
        return 1;
    }
    bool bJson = false;
    try
    {
        if (sCommand == "--expand")
            CFlatPackage::expand(argv[2], argv[3]);
        else if (sCommand == "--check-signature")
        {
            const SOptions options = parseOptions(argc, argv, 1, false);
            bJson = options.bJson;
            return checkSignature(options.lOperands[0], options.bJson);
        }
        else
        {
            const bool bCheck = sCommand == "--check-identity";
            const SOptions options = parseOptions(argc, argv, bCheck ? 1 : 2, true);
            bJson = options.bJson;
            std::shared_ptr<CSigningIdentity> pIdentity;
            std::string sLoadProblem;
            try
            {
                if (!options.sIdentity.empty())
                    pIdentity = CSigningIdentity::forCommandLine(
                        options.sIdentity, options.sPasswordFile, options.sPasswordVariable,
                        options.sTimestampUrl);
            }
            catch (const CToolError& error)
            {
                if (!bCheck)
                    throw;
                sLoadProblem = error.what();
            }
            if (bCheck)
                return checkIdentity(pIdentity, options.sIdentity, sLoadProblem, options.bJson);
            CFlatPackage::flatten(options.lOperands[0], options.lOperands[1], pIdentity);
        }
        return 0;
    }
    catch (const std::exception& error)
    {
        if (bJson)
            std::cout << "{\n  \"status\": \"error\",\n  \"problem\": "
                      << CReportText::json(error.what()) << "\n}\n";
        const char* sWhat = sCommand == "--expand"           ? "cannot expand "
                            : sCommand == "--flatten"        ? "cannot flatten "
                            : sCommand == "--check-identity" ? "cannot sign with "
                                                             : "cannot check the signature of ";
        std::cerr << "pkgutil: " << sWhat << shown(argv[2]) << ": " << shown(error.what()) << '\n';
        return 1;
    }
}
