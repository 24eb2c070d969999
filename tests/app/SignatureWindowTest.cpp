// The window's side of signatures: what the status bar and the details dialog show of
// hostile certificate names, and publishing with a time-stamping server.
#include "AppTestSupport.h"

#include "SigningFixture.h"
#include "app/packages/PackageSignature.h"
#include "app/signing/PublishSigning.h"
#include "app/window/AdminPage.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>
#include <preference/Preference.h>

using namespace AppTest;
using TestSupport::SigningPki;

namespace
{
const QString kSuccess = QStringLiteral("Tessary successfully generated the installation package.");

class SignatureWindowTest : public SigningFixture
{
};

// Characters a label or a terminal would act on: line breaks, other controls, the
// right-to-left override.
bool hasRawControls(const QString& text)
{
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c.unicode() == 0x202E)
            return true;
    return false;
}

} // namespace

TEST_F(SignatureWindowTest, HostileNamesAreShownEscapedInTheStatusBarAndTheDetails)
{
    const SigningPki::Leaf forger = pki->issue("forger", "Signer\nStatus: <b>trusted\xe2\x80\xae",
                                               SigningPki::InstallerSigning);
    const QString package = signedSample(forger, "Forged.pkg");

    CModalAnswerer driver;
    QStringList seen;
    int opened = 0;
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("SignatureDetailsDialog"))
            return false;
        ++opened;
        QTreeWidget* const chain =
            dialog->findChild<QTreeWidget*>(QStringLiteral("SignatureChain"));
        if (chain)
        {
            for (QTreeWidgetItemIterator it(chain); *it; ++it)
                seen << (*it)->text(0) + QStringLiteral(" = ") + (*it)->text(1);
            for (const QLabel* label : dialog->findChildren<QLabel*>())
            {
                seen << label->text();
                EXPECT_EQ(Qt::PlainText, label->textFormat()) << label->text().toStdString();
            }
        }
        dialog->reject();
        return true;
    };

    CAdminPage window(package, QStringList());
    QLabel* const status = window.findChild<QLabel*>(QStringLiteral("SignatureStatus"));
    ASSERT_TRUE(status);
    ASSERT_TRUE(waitFor([&] { return status->text().startsWith("Signed by"); }))
        << status->text().toStdString();
    EXPECT_EQ(Qt::PlainText, status->textFormat());
    EXPECT_TRUE(status->text().startsWith("Signed by Signer\\nStatus: <b>trusted\\u202E"))
        << status->text().toStdString();
    EXPECT_FALSE(hasRawControls(status->text()));
    // The tooltip is markup: the name's tags are escaped in it, not applied.
    const QString tip = status->toolTip();
    EXPECT_TRUE(tip.contains("Signer\\nStatus: &lt;b&gt;trusted\\u202E")) << tip.toStdString();
    EXPECT_FALSE(tip.contains("<b>"));
    EXPECT_FALSE(tip.contains(QChar(0x202E)));

    // The details open from a button one can reach with the keyboard, and from the label.
    QToolButton* const details =
        window.findChild<QToolButton*>(QStringLiteral("SignatureDetailsButton"));
    ASSERT_TRUE(details);
    EXPECT_TRUE(details->isVisibleTo(&window));
    EXPECT_FALSE(details->accessibleName().isEmpty());
    EXPECT_TRUE(details->focusPolicy() & Qt::TabFocus);
    details->click();
    ASSERT_EQ(1, opened);
    QTest::mouseClick(status, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return opened == 2; }, 10000));

    EXPECT_TRUE(seen.contains("Signer = Signer\\nStatus: <b>trusted\\u202E"))
        << seen.join('\n').toStdString();
    EXPECT_TRUE(seen.contains("SHA-256 fingerprint = " + fingerprintOf(forger.certificate)))
        << seen.join('\n').toStdString();
    EXPECT_TRUE(seen.contains("SHA-256 fingerprint = " + fingerprintOf(forger.chain)));
    for (const QString& text : seen)
        EXPECT_FALSE(hasRawControls(text)) << text.toStdString();
}

TEST_F(SignatureWindowTest, TheChosenTimeStampingServerStampsWhatIsPublished)
{
    const SigningPki::Leaf signer =
        pki->issue("signer", "Tessary Window Signer", SigningPki::InstallerSigning);
    const TestSupport::TimeStampingServer authority(pki->timeStampingAuthority("tsa"));
    const QString url = QString::fromStdString(authority.url());

    CModalAnswerer driver({acceptReview});
    QStringList verdicts;
    QStringList addresses{"ftp://127.0.0.1/tsa", url};
    driver.m_lHandlers << [&](QDialog* dialog)
    {
        if (dialog->objectName() != QLatin1String("SigningDialog"))
            return false;
        const QString verdict =
            dialog->findChild<QLabel*>(QStringLiteral("IdentityVerdict"))->text();
        if (!verdict.isEmpty() && !verdicts.contains(verdict))
            verdicts << verdict;
        dialog->findChild<QCheckBox*>(QStringLiteral("SignPublished"))->setChecked(true);
        dialog->findChild<QLineEdit*>(QStringLiteral("IdentityFile"))
            ->setText(QString::fromStdString(signer.identity));
        dialog->findChild<QLineEdit*>(QStringLiteral("IdentityPassword"))
            ->setText(QString::fromStdString(SigningPki::password()));
        QLineEdit* const timestamp = dialog->findChild<QLineEdit*>(QStringLiteral("TimestampUrl"));
        EXPECT_TRUE(timestamp);
        if (!timestamp)
            return false;
        timestamp->setText(addresses.size() > 1 ? addresses.takeFirst() : addresses.first());
        // A refused address keeps the dialog open for the next try.
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        return true;
    };

    CAdminPage window(sample("TessarySample.pkg"), QStringList());
    window.findChild<QLineEdit*>(QStringLiteral("ServerAddress"))->setText("console.example");
    QAction* const signing = findAction(&window, "Signing &Identity...");
    ASSERT_TRUE(signing);
    signing->trigger();
    ASSERT_EQ(1, verdicts.size());
    EXPECT_TRUE(verdicts.first().contains("http://")) << verdicts.first().toStdString();

    QDir().mkpath(testPath("out"));
    driver.m_lFileAnswers << testPath("out/Stamped");
    window.publish();
    ASSERT_TRUE(waitFor([&] { return driver.m_lTexts.contains(kSuccess); }, 60000))
        << driver.m_lTexts.join("\n").toStdString();
    const CPackageSignature output = CPackageSignature::check(testPath("out/Stamped.pkg"));
    EXPECT_EQ(CPackageSignature::Trusted, output.state()) << output.details().toStdString();
    EXPECT_TRUE(output.timestamp().present && output.timestamp().trusted)
        << output.details().toStdString();

    // The address is remembered beside the identity file.
    std::wstring remembered;
    Preference::Get(Preference::ScopeApplication)
        ->Read(CPublishSigning::SettingsKey, CPublishSigning::TimestampUrlValue, remembered,
               std::wstring());
    EXPECT_EQ(url, QString::fromStdWString(remembered));
}
