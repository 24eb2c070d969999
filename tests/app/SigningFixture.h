#pragma once

#include "AppTestSupport.h"
#include "tests/support/SigningPki.h"

#include <QString>
#include <memory>
#include <string>

namespace AppTest
{
// A test with its own certificate authority, trusted by the program for the test's
// length, and the sample flat package signed by the stand-in tools.
class SigningFixture : public AppFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The sample flat package signed by leaf, written to name.
    QString signedSample(const TestSupport::SigningPki::Leaf& leaf, const QString& name) const;

    // openssl's SHA-256 fingerprint of the first certificate in a PEM file, as the
    // tools write fingerprints (hex bytes separated by spaces).
    static QString fingerprintOf(const std::string& pem);

    std::unique_ptr<TestSupport::SigningPki> pki;
};
} // namespace AppTest
