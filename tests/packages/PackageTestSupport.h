#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Shared set-up of the package tests: the stand-in tools first on PATH, a private
// temporary directory (so left-over work directories can be counted), the sample
// installers, and builders for hostile variants.
namespace PackageTest
{

QString samplePath(const QString& name);
QString testDir();
// The private TMPDIR of this test process.
QString tempRoot();
// Work directories and mount points left in the private temporary directory.
QStringList leftOvers();

void prependPath(const QString& dir);
// Writes an executable shell script standing in for a tool into dir.
void writeTool(const QString& dir, const QString& name, const QByteArray& body);
// A directory holding links to the stand-ins and gzip, minus the named tools.
QString toolsWithout(const QStringList& missing);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& content);

// Runs a program with separate arguments; its exit code, or -1 when it did not run.
int run(const QString& program, const QStringList& arguments, const QString& workDir = QString(),
        QByteArray* output = nullptr, const QByteArray& input = QByteArray());

struct CpioMember
{
    QByteArray name;
    unsigned mode;
    QByteArray data; // the link target for a symbolic link
};
// An odc cpio archive holding exactly these members, names as given.
QByteArray cpioOdc(const QList<CpioMember>& members);
QByteArray gzip(const QByteArray& data);
// A flat package (xar) whose only member is "Scripts" with the given bytes.
QString makeFlatPackage(const QString& path, const QByteArray& scripts);
// The members a readable flat package's "Scripts" needs.
QList<CpioMember> validScriptsMembers();

class PackagesTest : public ::testing::Test
{
protected:
    void SetUp() override;
};

} // namespace PackageTest
