#include "AppTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>

using namespace AppTest;

namespace
{
// What the bash completion offers for the words typed so far (the last one being
// completed), run in folder; one offer a line.
QStringList offered(const QStringList& words, const QString& folder)
{
    const QString script = QString::fromStdString(TestSupport::sourceDirectory()) +
                           "/packaging/completions/tessary-cli.bash";
    QString array;
    for (const QString& word : words)
        array += ' ' + shellQuoted(word);
    const QString command = "source " + shellQuoted(script) + " && COMP_WORDS=(" + array +
                            ") && COMP_CWORD=" + QString::number(words.size() - 1) +
                            " && _tessary_cli && printf '%s\\n' \"${COMPREPLY[@]}\"";
    const QString output = QString::fromStdString(
        runShell("cd " + shellQuoted(folder) + " && bash --norc -c " + shellQuoted(command)));
    QStringList result = output.split('\n', Qt::SkipEmptyParts);
    result.sort();
    return result;
}
} // namespace

TEST(CliCompletionTest, BashCompletesCommandsOptionsAndFiles)
{
    const QString folder = testPath("work");
    QDir().mkpath(folder + "/Bundle.pkg/Contents");
    writeFile("work/site-a.xml", "");
    writeFile("work/site-b.xml", "");
    writeFile("work/Sentinel.package", "");

    EXPECT_EQ(QStringList{"publish"}, offered({"tessary-cli", "pu"}, folder));
    EXPECT_EQ(QStringList{"--output"}, offered({"tessary-cli", "publish", "--ou"}, folder));
    EXPECT_EQ(QStringList{"--version"}, offered({"tessary-cli", "--v"}, folder));
    EXPECT_EQ((QStringList{"--to"}), offered({"tessary-cli", "diff", "site-a.xml", "--t"}, folder));
    // Options of another command are not offered.
    EXPECT_TRUE(offered({"tessary-cli", "diff", "--f"}, folder).isEmpty());
    // diff takes customizations (and folders to look in); publish any installer.
    EXPECT_EQ((QStringList{"Bundle.pkg", "site-a.xml", "site-b.xml"}),
              offered({"tessary-cli", "diff", ""}, folder));
    EXPECT_EQ((QStringList{"Bundle.pkg", "Sentinel.package", "site-a.xml", "site-b.xml"}),
              offered({"tessary-cli", "publish", "--force", ""}, folder));
    EXPECT_EQ(QStringList{"Sentinel.package"},
              offered({"tessary-cli", "publish", "site-a.xml", "--output", "Se"}, folder));
    // A value to type is not completed as a command's option.
    EXPECT_TRUE(offered({"tessary-cli", "publish", "--set", "--"}, folder).isEmpty());
}
