#include "ToolTestSupport.h"
#include "platform/tools/src/XarSignature.h"
#include "tests/support/SigningPki.h"
#include "tests/support/TestEnvironment.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ToolTest;
using PlatformTools::CXarSignature;
using TestSupport::SigningPki;
namespace fs = std::filesystem;

namespace
{
void openssl(const std::vector<std::string>& lArgs, const std::string& sDirectory = "pki")
{
    const SResult result = run("openssl", lArgs, sDirectory, "", true);
    ASSERT_EQ(result.status, 0) << "openssl " << lArgs.front() << ": " << result.err;
}

// The published sample when the build made it, else a small package of the same layout.
void expandedPackage(const std::string& sDirectory)
{
#ifdef TESSARY_SAMPLES_DIR
    const SResult result =
        run("pkgutil", {"--expand", TESSARY_SAMPLES_DIR "/TessarySample.pkg", sDirectory});
    ASSERT_EQ(result.status, 0) << result.err;
#else
    writeFile(sDirectory + "/Scripts/AdminConfig.xml", "<AdminConfig/>\n");
    writeFile(sDirectory + "/Scripts/Info.plist", "<plist/>\n");
    writeFile(sDirectory + "/Payload", gzip(odc({{{".", 040755}, ""}, {{"./app", 0100644}, "x"}})));
    writeFile(sDirectory + "/Distribution", "<installer-gui-script/>\n");
#endif
}

SResult flattenSigned(const std::string& sOutput, const std::vector<std::string>& lExtra = {
                                                      "--sign-password-file", "pki/password"})
{
    std::vector<std::string> lArgs{"--flatten", "expanded", sOutput, "--sign-identity",
                                   "pki/identity.p12"};
    lArgs.insert(lArgs.end(), lExtra.begin(), lExtra.end());
    return run("pkgutil", lArgs);
}

// The verifier beside this test, which uses neither the tools nor their library.
SResult independentVerify(const std::string& sPackage, const std::string& sTrusted = "")
{
    std::vector<std::string> lArgs{TestSupport::sourceDirectory() + "/tests/tools/xar_verify.py",
                                   sPackage};
    if (!sTrusted.empty())
        lArgs.push_back(sTrusted);
    return run("python3", lArgs, ".", "", true);
}

std::uint64_t bigEndian(const std::string& sData, std::size_t at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | static_cast<unsigned char>(sData[at + i]);
    return value;
}

class Signature : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::unsetenv("TESSARY_TRUSTED_CERTIFICATES");
        ::unsetenv("TESSARY_SIGN_PASSWORD");
    }
    // A root, an intermediate and an installer-signing certificate, the signer's identity as a
    // PKCS#12 file "pki/identity.p12" with the password in "pki/password".
    void makePki()
    {
        pki = std::make_unique<SigningPki>("pki");
        exportIdentity(pki->issue("signer", "Installer: Ombrel Admins", SigningPki::CodeSigning));
    }
    // Replaces the identity by one whose certificate, from the same intermediate, was valid
    // only in a year long past.
    void reissueExpiredSigner()
    {
        exportIdentity(pki->issue("signer", "Installer: Ombrel Admins", SigningPki::CodeSigning,
                                  "20200101000000Z", "20210101000000Z"));
    }
    void exportIdentity(const SigningPki::Leaf& leaf)
    {
        // The file keeps the chain root first, the reverse of the order the signature needs.
        writeFile("pki/chain.pem", readFile("pki/root.pem") + readFile("pki/intermediate.pem"));
        openssl({"pkcs12", "-export", "-inkey", leaf.key, "-in", leaf.certificate, "-certfile",
                 "chain.pem", "-out", "identity.p12", "-passout", "file:password"});
    }

    std::unique_ptr<SigningPki> pki;
    void trustTestRoot()
    {
        ::setenv("TESSARY_TRUSTED_CERTIFICATES", (fs::current_path() / "pki/root.pem").c_str(), 1);
    }
};
} // namespace

TEST_F(Signature, SignedPackageVerifiesHereAndIndependently)
{
    makePki();
    expandedPackage("expanded");
    SResult result = flattenSigned("Signed.pkg");
    ASSERT_EQ(result.status, 0) << result.err;

    trustTestRoot();
    result = run("pkgutil", {"--check-signature", "Signed.pkg"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Package \"Signed.pkg\":\n   Status: signed by a certificate "
                              "trusted by this system\n"),
              std::string::npos)
        << result.out;
    const std::size_t signer = result.out.find("1. Installer: Ombrel Admins\n"
                                               "       Issued by: Tessary Test Installer CA\n");
    const std::size_t intermediate = result.out.find("2. Tessary Test Installer CA\n"
                                                     "       Issued by: Tessary Test Root\n");
    const std::size_t root = result.out.find("3. Tessary Test Root\n");
    EXPECT_NE(signer, std::string::npos) << result.out;
    EXPECT_NE(intermediate, std::string::npos) << result.out;
    EXPECT_NE(root, std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Signature: RSA with sha1, CMS with sha256\n"), std::string::npos);

    result = independentVerify("Signed.pkg", "pki/root.pem");
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("CN=Installer: Ombrel Admins"), std::string::npos) << result.out;

    // Still an ordinary xar archive for libarchive, with the same members.
    if (haveProgram("bsdtar"))
    {
        result = run("bsdtar", {"-tf", "Signed.pkg"}, ".", "", true);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("Distribution\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("Scripts\n"), std::string::npos) << result.out;
    }
    ASSERT_EQ(run("pkgutil", {"--expand", "Signed.pkg", "again"}).status, 0);
    EXPECT_EQ(snapshot("again"), snapshot("expanded"));

    const CXarSignature::SInfo info = CXarSignature::read("Signed.pkg");
    EXPECT_TRUE(info.bSigned);
    EXPECT_EQ(info.sStyle, "RSA");
    EXPECT_EQ(info.sChecksumStyle, "sha1");
    EXPECT_EQ(info.offset, 20u);
    EXPECT_EQ(info.size, 256u);
    EXPECT_TRUE(info.bHasCms);
    EXPECT_EQ(info.cmsOffset, 20u + 256u);
    EXPECT_EQ(CXarSignature::verify("Signed.pkg", std::time(nullptr)).sCmsDigest, "sha256");
    ASSERT_EQ(info.lCertificates.size(), 3u);
    EXPECT_EQ(info.lCertificates[0].sSubjectCommonName, "Installer: Ombrel Admins");
    EXPECT_EQ(info.lCertificates[0].sIssuerCommonName, "Tessary Test Installer CA");
    EXPECT_LT(info.lCertificates[0].notBefore, info.lCertificates[0].notAfter);
    EXPECT_EQ(info.lCertificates[2].sSubjectCommonName, "Tessary Test Root");
}

TEST_F(Signature, ChangingOneByteFailsBothVerifiers)
{
    makePki();
    expandedPackage("expanded");
    ASSERT_EQ(flattenSigned("Signed.pkg").status, 0);
    const std::string package = readFile("Signed.pkg");
    const std::uint64_t tocLength = bigEndian(package, 8, 8);
    const std::uint64_t heap = 28 + tocLength;
    const std::vector<std::pair<std::string, std::uint64_t>> places{
        {"table of contents", 28 + tocLength / 2},
        {"checksum", heap + 5},
        {"signature", heap + 20 + 100},
        {"CMS certificates", heap + 20 + 256 + 600},
        {"CMS signature", heap + 20 + 256 + CXarSignature::read("Signed.pkg").cmsSize - 9},
        {"member data", package.size() - 7}};
    trustTestRoot();
    for (const auto& place : places)
    {
        SCOPED_TRACE(place.first);
        std::string changed = package;
        changed[place.second] = static_cast<char>(changed[place.second] ^ 0x10);
        writeFile("Changed.pkg", changed);
        SResult result = run("pkgutil", {"--check-signature", "Changed.pkg"});
        EXPECT_EQ(result.status, 1) << result.out;
        EXPECT_EQ(result.out.find("Status: signed"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("Status: "), std::string::npos) << result.out << result.err;
        result = independentVerify("Changed.pkg", "pki/root.pem");
        EXPECT_EQ(result.status, 1) << result.out << result.err;
        // The quick look skips only the members' data, and says so.
        const CXarSignature::SVerification quick =
            CXarSignature::verify("Changed.pkg", std::time(nullptr), false);
        EXPECT_EQ(quick.status == CXarSignature::Valid, place.first == "member data");
        EXPECT_FALSE(quick.bMembersChecked);
    }
}

TEST_F(Signature, ReportsUnsignedUntrustedAndExpiredSigners)
{
    expandedPackage("expanded");
    ASSERT_EQ(run("pkgutil", {"--flatten", "expanded", "Plain.pkg"}).status, 0);
    SResult result = run("pkgutil", {"--check-signature", "Plain.pkg"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Package \"Plain.pkg\":\n   Status: no signature\n");
    EXPECT_EQ(independentVerify("Plain.pkg").status, 2);
    EXPECT_FALSE(CXarSignature::read("Plain.pkg").bSigned);

    // Without the test root among the trusted certificates the signature is still sound.
    makePki();
    ASSERT_EQ(flattenSigned("Signed.pkg").status, 0);
    result = run("pkgutil", {"--check-signature", "Signed.pkg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Status: signed by untrusted certificate\n"), std::string::npos)
        << result.out;

    reissueExpiredSigner();
    ASSERT_EQ(flattenSigned("Expired.pkg").status, 0);
    trustTestRoot();
    result = run("pkgutil", {"--check-signature", "Expired.pkg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Status: signed by a certificate that has since expired\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Expires: 2021-01-01 00:00:00 +0000"), std::string::npos)
        << result.out;
    const CXarSignature::SVerification verification =
        CXarSignature::verify("Expired.pkg", std::time(nullptr));
    EXPECT_EQ(verification.status, CXarSignature::Valid);
    EXPECT_EQ(verification.trust, CXarSignature::Expired);
    // Before the signer's certificate was issued nothing is valid yet.
    EXPECT_EQ(CXarSignature::verify("Expired.pkg", 1570000000).trust, CXarSignature::Untrusted);

    EXPECT_EQ(run("pkgutil", {"--check-signature", "expanded"}).status, 1);
    ASSERT_EQ(::mkfifo("Pipe.pkg", 0600), 0);
    result = run("pkgutil", {"--check-signature", "Pipe.pkg"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("not a file"), std::string::npos) << result.err;
    result = run("pkgutil", {"--check-signature", "pki/root.pem"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("not a xar archive"), std::string::npos) << result.err;
}

TEST_F(Signature, IdentitiesAndPasswordsAreCheckedBeforeAnythingIsWritten)
{
    makePki();
    expandedPackage("expanded");
    writeFile("Existing.pkg", "keep me");

    writeFile("wrong", "battery staple\n");
    SResult result = flattenSigned("Existing.pkg", {"--sign-password-file", "wrong"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("wrong password"), std::string::npos) << result.err;
    result = flattenSigned("Existing.pkg", {"--sign-password-env", "NO_SUCH_PASSWORD_VARIABLE"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("NO_SUCH_PASSWORD_VARIABLE"), std::string::npos) << result.err;
    result = flattenSigned("Existing.pkg", {"--sign-password-file", "missing"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("missing"), std::string::npos) << result.err;
    EXPECT_EQ(readFile("Existing.pkg"), "keep me");

    // An elliptic-curve identity cannot make the RSA signature installers check.
    openssl({"req", "-config", "pki.cnf", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:P-256", "-nodes", "-keyout", "ec.key", "-out", "ec.pem", "-subj",
             "/CN=EC signer"});
    openssl({"pkcs12", "-export", "-inkey", "ec.key", "-in", "ec.pem", "-out", "ec.p12", "-passout",
             "file:password"});
    result = run("pkgutil", {"--flatten", "expanded", "Existing.pkg", "--sign-identity",
                             "pki/ec.p12", "--sign-password-file", "pki/password"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("RSA"), std::string::npos) << result.err;
    EXPECT_EQ(readFile("Existing.pkg"), "keep me");

    // Keychain exports still protect the key with RC2 or 3DES.
    openssl({"pkcs12", "-export", "-legacy", "-inkey", "signer.key", "-in", "signer.pem",
             "-certfile", "chain.pem", "-out", "legacy.p12", "-passout", "file:password"});
    result = run("pkgutil", {"--flatten", "expanded", "Legacy.pkg", "--sign-identity",
                             "pki/legacy.p12", "--sign-password-file", "pki/password"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(independentVerify("Legacy.pkg", "pki/root.pem").status, 0);

    // The password from the environment, and xar signing what it creates.
    ::setenv("TESSARY_SIGN_PASSWORD", "correct horse", 1);
    result = run("pkgutil",
                 {"--flatten", "expanded", "Existing.pkg", "--sign-identity", "pki/identity.p12"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(independentVerify("Existing.pkg", "pki/root.pem").status, 0);
    ::setenv("MY_P12_PASSWORD", "correct horse", 1);
    result = run("xar", {"-c", "-f", "Archive.xar", "--sign-identity", "pki/identity.p12",
                         "--sign-password-env", "MY_P12_PASSWORD", "expanded"});
    EXPECT_EQ(result.status, 0) << result.err;
    result = independentVerify("Archive.xar", "pki/root.pem");
    EXPECT_EQ(result.status, 0) << result.out;
}

TEST_F(Signature, HostileSignatureElementsAreReportedNotTrusted)
{
    makePki();
    const std::string certificate =
        run("openssl", {"x509", "-in", "pki/signer.pem", "-outform", "DER"}, ".", "", true).out;
    std::string base64 = run("openssl", {"base64", "-A"}, ".", certificate, true).out;
    const std::string keyInfo =
        "<KeyInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><X509Data><X509Certificate>" +
        base64 + "</X509Certificate></X509Data></KeyInfo>";
    const std::string heap(256, 'S');
    const std::vector<std::pair<std::string, std::string>> cases{
        {"beyond the end", "<signature style=\"RSA\"><offset>20</offset><size>4096</size>" +
                               keyInfo + "</signature>"},
        {"huge",
         "<signature style=\"RSA\"><offset>20</offset><size>99999999999</size></signature>"},
        {"not base64",
         "<signature style=\"RSA\"><offset>20</offset><size>256</size><KeyInfo><X509Data>"
         "<X509Certificate>!!!!</X509Certificate></X509Data></KeyInfo></signature>"},
        {"not a certificate",
         "<signature style=\"RSA\"><offset>20</offset><size>256</size><KeyInfo><X509Data>"
         "<X509Certificate>AAAA</X509Certificate></X509Data></KeyInfo></signature>"},
        {"no certificate", "<signature style=\"RSA\"><offset>20</offset><size>256</size>"
                           "</signature>"},
        {"forged",
         "<signature style=\"RSA\"><offset>20</offset><size>256</size>" + keyInfo + "</signature>"},
        {"other style",
         "<signature style=\"DSA\"><offset>20</offset><size>256</size>" + keyInfo + "</signature>"},
    };
    for (const auto& hostile : cases)
    {
        SCOPED_TRACE(hostile.first);
        writeFile("Hostile.xar", xar(hostile.second, heap));
        const CXarSignature::SVerification verification =
            CXarSignature::verify("Hostile.xar", std::time(nullptr));
        EXPECT_NE(verification.status, CXarSignature::Valid);
        EXPECT_NE(verification.status, CXarSignature::Unsigned);
        EXPECT_FALSE(verification.sProblem.empty());
        const SResult result = run("pkgutil", {"--check-signature", "Hostile.xar"});
        EXPECT_EQ(result.status, 1) << result.out;
    }
}
