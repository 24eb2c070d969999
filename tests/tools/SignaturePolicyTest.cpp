// What a signature check must refuse or qualify, on packages signed by tests/tools/xar_sign.py
// (which shares no code with the tools) with certificates openssl makes here.
#include "ToolTestSupport.h"
#include "platform/tools/src/XarSignature.h"
#include "tests/support/SigningPki.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace ToolTest;
using PlatformTools::CXarSignature;
using TestSupport::SigningPki;
namespace fs = std::filesystem;

namespace
{
const std::string kTrustedStatus = "signed by a certificate trusted by this system";

// A value of the JSON report, read by Python's parser.
std::string json(const std::string& sReport, const std::string& sExpression)
{
    const SResult result = run(
        "python3",
        {"-c", "import json, sys\nd = json.load(sys.stdin)\nprint(eval(sys.argv[1]))", sExpression},
        ".", sReport, true);
    EXPECT_EQ(result.status, 0) << result.err << sReport;
    return result.out.empty() ? result.out : result.out.substr(0, result.out.size() - 1);
}

// The status line, which must be the report's second line.
std::string statusLine(const std::string& sReport)
{
    const std::size_t first = sReport.find('\n');
    const std::size_t second = sReport.find('\n', first + 1);
    const std::string sLine = sReport.substr(first + 1, second - first - 1);
    return sLine.compare(0, 11, "   Status: ") == 0 ? sLine.substr(11) : "(no status line)";
}

class SignaturePolicy : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::unsetenv("TESSARY_SIGN_PASSWORD");
        ::unsetenv("http_proxy");
        ::unsetenv("HTTP_PROXY");
        fs::create_directories("members");
        writeFile("members/Distribution", "<installer-gui-script/>\n");
        pki = std::make_unique<SigningPki>("pki");
        ::setenv("TESSARY_TRUSTED_CERTIFICATES", pki->root().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("TESSARY_TRUSTED_CERTIFICATES"); }

    void sign(const SigningPki::Leaf& leaf, const std::string& sPackage,
              const std::vector<std::string>& lOptions = {})
    {
        SigningPki::signPackage(leaf, sPackage, {"Distribution=members/Distribution"}, lOptions);
    }
    SResult check(const std::string& sPackage, bool bJson = false)
    {
        std::vector<std::string> lArgs{"--check-signature", sPackage};
        if (bJson)
            lArgs.push_back("--json");
        return run("pkgutil", lArgs);
    }
    // A small expanded package for the tools to flatten.
    void expanded()
    {
        writeFile("expanded/Distribution", "<installer-gui-script/>\n");
        writeFile("expanded/Payload", gzip(odc({{{".", 040755}, ""}, {{"./app", 0100644}, "x"}})));
    }
    SResult flatten(const SigningPki::Leaf& leaf, const std::string& sOutput,
                    const std::vector<std::string>& lExtra = {})
    {
        std::vector<std::string> lArgs{"--flatten",        "expanded",    sOutput,
                                       "--sign-identity",  leaf.identity, "--sign-password-file",
                                       pki->passwordFile()};
        lArgs.insert(lArgs.end(), lExtra.begin(), lExtra.end());
        return run("pkgutil", lArgs);
    }

    std::unique_ptr<SigningPki> pki;
};
} // namespace

TEST_F(SignaturePolicy, NamesInCertificatesCannotForgeTheReport)
{
    // A common name has at most 64 characters.
    const std::string sName = "Signer\nStatus: signed by a trusted certificate\x1b[2J\xe2\x80\xae";
    sign(pki->issueUntrusted("forger", sName, SigningPki::InstallerSigning, "Forger Root"),
         "Forged.pkg");
    const std::string sNamed = "Named\nStatus: " + kTrustedStatus + ".pkg";
    fs::copy_file("Forged.pkg", sNamed);
    for (const std::string& sPackage : {std::string("Forged.pkg"), sNamed})
    {
        SCOPED_TRACE(sPackage);
        SResult result = check(sPackage);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(statusLine(result.out), "signed by untrusted certificate") << result.out;
        // One status line, and nothing a terminal would act on.
        std::size_t statusLines = 0;
        std::istringstream lines(result.out);
        for (std::string sLine; std::getline(lines, sLine);)
            statusLines +=
                sLine.compare(0, 11, "   Status: ") == 0 || sLine.compare(0, 7, "Status:") == 0;
        EXPECT_EQ(statusLines, 1u) << result.out;
        EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
        EXPECT_EQ(result.out.find("\xe2\x80\xae"), std::string::npos);
        EXPECT_NE(
            result.out.find("1. Signer\\nStatus: signed by a trusted certificate\\x1b[2J\\u202E\n"),
            std::string::npos)
            << result.out;

        result = check(sPackage, true);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(json(result.out, "d['status']"), "untrusted");
        EXPECT_EQ(json(result.out, "d['package']"), sPackage);
        EXPECT_EQ(json(result.out, "d['certificates'][0]['commonName'] == 'Signer\\nStatus: "
                                   "signed by a trusted certificate\\x1b[2J\\u202e'"),
                  "True");
    }
}

TEST_F(SignaturePolicy, OnlyCertificatesForSigningPackagesCount)
{
    const std::vector<std::pair<SigningPki::Usage, std::string>> cases{
        {SigningPki::InstallerSigning, "trusted"},
        {SigningPki::CodeSigning, "trusted"},
        {SigningPki::WebServer, "untrusted"},
        {SigningPki::NoDigitalSignature, "untrusted"}};
    expanded();
    writeFile("Existing.pkg", "keep me");
    int number = 0;
    for (const auto& usage : cases)
    {
        SCOPED_TRACE(number);
        const std::string sName = "leaf" + std::to_string(++number);
        const SigningPki::Leaf leaf = pki->issue(sName, "Installer: Ombrel Admins", usage.first);
        sign(leaf, sName + ".pkg");
        SResult result = check(sName + ".pkg", true);
        EXPECT_EQ(json(result.out, "d['status']"), usage.second) << result.out;
        result = check(sName + ".pkg");
        const bool bAllowed = usage.second == "trusted";
        EXPECT_EQ(statusLine(result.out),
                  bAllowed ? kTrustedStatus : "signed by untrusted certificate");
        if (!bAllowed)
        {
            EXPECT_NE(result.out.find("Reason: the certificate \"Installer: Ombrel Admins\" is "
                                      "not meant for signing installer packages"),
                      std::string::npos)
                << result.out;
        }

        // The tools sign only with certificates meant for it, and say why not.
        result = flatten(leaf, "Existing.pkg");
        EXPECT_EQ(result.status, bAllowed ? 0 : 1) << result.err;
        if (!bAllowed)
        {
            EXPECT_NE(result.err.find("not meant for signing installer packages"),
                      std::string::npos)
                << result.err;
            EXPECT_TRUE(readFile("Existing.pkg") == "keep me");
            result = run("pkgutil", {"--check-identity", leaf.identity, "--sign-password-file",
                                     pki->passwordFile()});
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.err.find("not meant for signing installer packages"),
                      std::string::npos)
                << result.err;
        }
        else
            writeFile("Existing.pkg", "keep me");
    }

    // The whole chain is in the report, usages and fingerprints included.
    const SResult result = check("leaf1.pkg", true);
    EXPECT_EQ(json(result.out, "len(d['certificates'])"), "3");
    EXPECT_EQ(json(result.out, "d['certificates'][0]['extendedKeyUsage']"),
              "['installerPackageSigning']");
    EXPECT_EQ(json(result.out, "d['certificates'][0]['keyUsage']"), "['digitalSignature']");
    EXPECT_EQ(json(result.out, "d['certificates'][1]['subject']"), "CN=Tessary Test Installer CA");
    EXPECT_EQ(json(result.out, "d['certificates'][1]['issuer']"), "CN=Tessary Test Root");
    EXPECT_EQ(json(result.out, "d['certificates'][2]['notAfter'][-1]"), "Z");
    const std::string sFingerprint =
        run("openssl", {"x509", "-in", pki->root(), "-noout", "-fingerprint", "-sha256"}, ".", "",
            true)
            .out;
    EXPECT_NE(
        sFingerprint.find(json(result.out, "d['certificates'][2]['sha256'].replace(' ', ':')")),
        std::string::npos)
        << sFingerprint;
    EXPECT_NE(check("leaf1.pkg").out.find("       Extended key usage: installerPackageSigning\n"),
              std::string::npos);
}

TEST_F(SignaturePolicy, BrokenDigestsNeverVerifyAndSha1IsQualified)
{
    const SigningPki::Leaf leaf =
        pki->issue("signer", "Installer: Ombrel Admins", SigningPki::InstallerSigning);
    sign(leaf, "Md5.pkg", {"--checksum", "md5"});
    sign(leaf, "Md5Cms.pkg", {"--cms-digest", "md5"});
    for (const std::string sPackage : {"Md5.pkg", "Md5Cms.pkg"})
    {
        SCOPED_TRACE(sPackage);
        const SResult result = check(sPackage);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(statusLine(result.out).compare(0, 18, "invalid signature:"), 0) << result.out;
        EXPECT_NE(result.out.find("MD5"), std::string::npos) << result.out;
    }
    sign(leaf, "Sha1Cms.pkg", {"--cms-digest", "sha1"});
    for (const std::string sPackage : {"Sha1Cms.pkg"})
    {
        const SResult result = check(sPackage, true);
        EXPECT_EQ(json(result.out, "d['status']"), "trusted");
        EXPECT_EQ(json(result.out, "any('SHA-1' in w for w in d['warnings'])"), "True")
            << result.out;
        EXPECT_NE(check(sPackage).out.find("   Warning: "), std::string::npos);
    }
}

TEST_F(SignaturePolicy, AmbiguousSignaturesAreRefused)
{
    const SigningPki::Leaf leaf =
        pki->issue("signer", "Installer: Ombrel Admins", SigningPki::InstallerSigning);
    const SigningPki::Leaf other =
        pki->issueUntrusted("other", "Someone Else", SigningPki::InstallerSigning, "Other Root");
    const std::string sAuthority = pki->timeStampingAuthority("stamps");
    sign(leaf, "Two.pkg", {"--second-signature", other.certificate});
    sign(leaf, "AtChecksum.pkg", {"--signature-at-checksum"});
    sign(leaf, "OverPadding.pkg", {"--tsa", sAuthority, "--member-over-padding"});
    const std::vector<std::pair<std::string, std::string>> cases{
        {"Two.pkg", "more than one signature"},
        {"AtChecksum.pkg", "overlaps"},
        {"OverPadding.pkg", "overlaps"}};
    for (const auto& hostile : cases)
    {
        SCOPED_TRACE(hostile.first);
        const SResult result = check(hostile.first);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(statusLine(result.out).compare(0, 18, "invalid signature:"), 0) << result.out;
        EXPECT_NE(result.out.find(hostile.second), std::string::npos) << result.out;
    }
}

TEST_F(SignaturePolicy, TrustIsJudgedBeforeTimeAndATrustedTimestampOutlivesTheLeaf)
{
    const std::string sFrom = "20200101000000Z", sTo = "20210101000000Z";
    sign(pki->issueUntrusted("stranger", "Installer: Ombrel Admins", SigningPki::InstallerSigning,
                             "Tessary Test Root", sFrom, sTo),
         "UntrustedExpired.pkg");
    EXPECT_EQ(statusLine(check("UntrustedExpired.pkg").out), "signed by untrusted certificate");

    const SigningPki::Leaf leaf =
        pki->issue("old", "Installer: Ombrel Admins", SigningPki::InstallerSigning, sFrom, sTo);
    const std::string sTrusted = pki->timeStampingAuthority("stamps");
    const std::string sStranger = pki->timeStampingAuthority("strange-stamps", false);
    sign(leaf, "Expired.pkg");
    sign(leaf, "Stamped.pkg", {"--tsa", sTrusted, "--tsa-time", "2020-06-01 12:00:00"});
    sign(leaf, "StrangeStamp.pkg", {"--tsa", sStranger, "--tsa-time", "2020-06-01 12:00:00"});
    sign(leaf, "LateStamp.pkg", {"--tsa", sTrusted, "--tsa-time", "2022-06-01 12:00:00"});

    SResult result = check("Stamped.pkg");
    EXPECT_EQ(statusLine(result.out), kTrustedStatus) << result.out;
    EXPECT_NE(result.out.find("   Signed with a trusted timestamp on: 2020-06-01 12:00:0"),
              std::string::npos)
        << result.out;
    result = check("Stamped.pkg", true);
    EXPECT_EQ(json(result.out, "d['timestamp']['time'][:16]"), "2020-06-01T12:00");
    EXPECT_EQ(json(result.out, "d['timestamp']['trusted']"), "True");
    EXPECT_EQ(json(result.out, "d['timestamp']['authority']"), "Tessary Test Time Stamps");

    for (const std::string sPackage : {"Expired.pkg", "StrangeStamp.pkg", "LateStamp.pkg"})
    {
        SCOPED_TRACE(sPackage);
        result = check(sPackage, true);
        EXPECT_EQ(json(result.out, "d['status']"), "expired") << result.out;
        EXPECT_EQ(json(result.out, "any('time stamp' in w for w in d['warnings'])"),
                  sPackage == "Expired.pkg" ? "False" : "True")
            << result.out;
        EXPECT_EQ(check(sPackage).out.find("trusted timestamp"), std::string::npos);
    }
    // The same verdicts through the library, at a chosen time: before the leaf expired the
    // stamp is not needed, and a stamp cannot vouch for a time before the leaf was issued.
    EXPECT_EQ(CXarSignature::verify("Expired.pkg", 1590000000).trust, CXarSignature::Trusted);
    EXPECT_EQ(CXarSignature::verify("Stamped.pkg", 1700000000).trust, CXarSignature::Trusted);
    EXPECT_TRUE(CXarSignature::verify("Stamped.pkg", 1700000000).timestamp.bHonoured);
    EXPECT_EQ(CXarSignature::verify("UntrustedExpired.pkg", 1590000000).trust,
              CXarSignature::Untrusted);
}

TEST_F(SignaturePolicy, ToolsSignWithATimestampOrFailSayingWhy)
{
    expanded();
    const SigningPki::Leaf leaf =
        pki->issue("signer", "Installer: Ombrel Admins", SigningPki::InstallerSigning, "",
                   SigningPki::timeFromNow(2 * 86400));
    const TestSupport::TimeStampingServer authority(pki->timeStampingAuthority("stamps"));
    SResult result = flatten(leaf, "Stamped.pkg", {"--timestamp-url", authority.url()});
    ASSERT_EQ(result.status, 0) << result.err;
    result = run(
        "python3",
        {TestSupport::sourceDirectory() + "/tests/tools/xar_verify.py", "Stamped.pkg", pki->root()},
        ".", "", true);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("timestamp verified"), std::string::npos) << result.out;
    ASSERT_EQ(flatten(leaf, "Plain.pkg").status, 0);
    ::setenv("MY_P12_PASSWORD", SigningPki::password().c_str(), 1);
    result = run("xar", {"-c", "-f", "Archive.xar", "--sign-identity", leaf.identity,
                         "--sign-password-env", "MY_P12_PASSWORD", "--timestamp-url",
                         authority.url(), "expanded"});
    EXPECT_EQ(result.status, 0) << result.err;

    // Ten days on the leaf has expired; only the stamped packages still verify as trusted.
    const std::string sLater = "@" + std::to_string(std::time(nullptr) + 10 * 86400);
    for (const std::string sPackage : {"Stamped.pkg", "Archive.xar", "Plain.pkg"})
    {
        SCOPED_TRACE(sPackage);
        // faketime preloads its library ahead of everything; a sanitizer build refuses
        // that unless told the order is expected.
        const char* pAsan = std::getenv("ASAN_OPTIONS");
        const std::string sAsan = std::string("ASAN_OPTIONS=") + (pAsan ? pAsan : "") +
                                  (pAsan && *pAsan ? ":" : "") + "verify_asan_link_order=0";
        result = run("env",
                     {sAsan, "faketime", sLater, TestSupport::toolsDirectory() + "/pkgutil",
                      "--check-signature", sPackage},
                     ".", "", true);
        EXPECT_EQ(result.status, 0) << result.err;
        const bool bStamped = sPackage != "Plain.pkg";
        EXPECT_EQ(statusLine(result.out),
                  bStamped ? kTrustedStatus : "signed by a certificate that has since expired")
            << result.out;
        EXPECT_EQ(result.out.find("Signed with a trusted timestamp on: ") != std::string::npos,
                  bStamped);
    }

    // A time-stamping authority that fails, answers nonsense, stamps something else, is not
    // trusted or is not there fails the signing, and nothing is written.
    writeFile("Existing.pkg", "keep me");
    const TestSupport::TimeStampingServer down(pki->timeStampingAuthority("down"), "error");
    const TestSupport::TimeStampingServer garbage(pki->timeStampingAuthority("garbage"), "garbage");
    const TestSupport::TimeStampingServer other(pki->timeStampingAuthority("other"), "other");
    const TestSupport::TimeStampingServer stranger(pki->timeStampingAuthority("stranger", false));
    std::string sClosed;
    {
        const TestSupport::TimeStampingServer gone(pki->timeStampingAuthority("gone"));
        sClosed = gone.url();
    }
    const std::vector<std::pair<std::string, std::string>> failures{
        {down.url(), "HTTP 500"},
        {garbage.url(), "not a time-stamp response"},
        {other.url(), "does not cover this signature"},
        {stranger.url(), "not trusted"},
        {sClosed, "cannot reach"},
        {"ftp://127.0.0.1/", "http://"}};
    for (const auto& failure : failures)
    {
        SCOPED_TRACE(failure.first);
        result = flatten(leaf, "Existing.pkg", {"--timestamp-url", failure.first});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("time stamp"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(failure.second), std::string::npos) << result.err;
        EXPECT_TRUE(readFile("Existing.pkg") == "keep me");
    }
    // Checking the identity asks the authority as well, before any publishing.
    result = run("pkgutil", {"--check-identity", leaf.identity, "--sign-password-file",
                             pki->passwordFile(), "--timestamp-url", down.url()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("HTTP 500"), std::string::npos) << result.err;
    result = run("pkgutil", {"--check-identity", leaf.identity, "--sign-password-file",
                             pki->passwordFile(), "--timestamp-url", authority.url()});
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST_F(SignaturePolicy, MissingAndWrongPasswordsAreTold)
{
    expanded();
    const SigningPki::Leaf leaf =
        pki->issue("signer", "Installer: Ombrel Admins", SigningPki::InstallerSigning);
    SResult result =
        run("pkgutil", {"--flatten", "expanded", "Out.pkg", "--sign-identity", leaf.identity});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("no password given"), std::string::npos) << result.err;
    writeFile("wrong", "battery staple\n");
    result = run("pkgutil", {"--check-identity", leaf.identity, "--sign-password-file", "wrong"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("wrong password"), std::string::npos) << result.err;
    result = run("pkgutil", {"--check-identity", leaf.identity, "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(json(result.out, "d['usable']"), "False");
    EXPECT_NE(json(result.out, "d['problem']").find("no password given"), std::string::npos);
}
