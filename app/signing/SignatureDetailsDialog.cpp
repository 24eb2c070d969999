#include "SignatureDetailsDialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
QLabel* plainLabel(const QString& text, QWidget* parent)
{
    // Plain text always: a name such as "<img src=...>" is shown, never rendered.
    auto* const label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setText(text);
    return label;
}

void addFact(QTreeWidgetItem* certificate, const QString& name, const QString& value)
{
    auto* const item = new QTreeWidgetItem(certificate, {name, value});
    item->setToolTip(1, value);
}
} // namespace

CSignatureDetailsDialog::CSignatureDetailsDialog(const CPackageSignature& signature,
                                                 QWidget* parent)
    : QDialog(parent), m_pChain(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("SignatureDetailsDialog"));
    setWindowTitle(tr("Installer Signature"));
    setMinimumSize(620, 420);
    auto* const layout = new QVBoxLayout(this);

    QLabel* const summary = plainLabel(signature.summary(), this);
    summary->setObjectName(QStringLiteral("SignatureSummary"));
    QFont bold = summary->font();
    bold.setBold(true);
    summary->setFont(bold);
    layout->addWidget(summary);

    QStringList notes;
    if (signature.verifies())
        notes << tr("The signature matches the installer.");
    if (!signature.problem().isEmpty())
        notes << signature.problem();
    const CPackageSignature::Timestamp& stamp = signature.timestamp();
    if (stamp.present)
    {
        const QString time = stamp.time.isValid()
                                 ? stamp.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))
                                 : tr("unknown time");
        notes << (stamp.trusted ? tr("Timestamp: %1, by %2 (trusted)").arg(time, stamp.authority)
                                : tr("Timestamp: %1, by %2 (not honoured: %3)")
                                      .arg(time, stamp.authority, stamp.problem));
    }
    for (const QString& warning : signature.warnings())
        notes << tr("Warning: %1").arg(warning);
    for (const QString& note : qAsConst(notes))
        layout->addWidget(plainLabel(note, this));

    m_pChain->setObjectName(QStringLiteral("SignatureChain"));
    m_pChain->setAccessibleName(tr("Certificate chain"));
    m_pChain->setColumnCount(2);
    m_pChain->setHeaderLabels({tr("Certificate"), tr("Value")});
    m_pChain->setUniformRowHeights(true);
    m_pChain->setWordWrap(false);
    const QString none = tr("none named");
    int number = 0;
    for (const CPackageSignature::Certificate& certificate : signature.chain())
    {
        auto* const top = new QTreeWidgetItem(
            m_pChain, {number == 0 ? tr("Signer") : tr("Issuer %1").arg(number), certificate.name});
        top->setToolTip(1, certificate.name);
        ++number;
        addFact(top, tr("Subject"), certificate.subject);
        addFact(top, tr("Issuer"),
                certificate.issuerSubject.isEmpty() ? certificate.issuer
                                                    : certificate.issuerSubject);
        addFact(top, tr("Valid from"), certificate.validFrom);
        addFact(top, tr("Valid until"), certificate.expires);
        addFact(top, tr("Key usage"),
                certificate.keyUsage.isEmpty() ? none
                                               : certificate.keyUsage.join(QStringLiteral(", ")));
        addFact(top, tr("Extended key usage"),
                certificate.extendedKeyUsage.isEmpty()
                    ? none
                    : certificate.extendedKeyUsage.join(QStringLiteral(", ")));
        addFact(top, tr("SHA-256 fingerprint"), certificate.sha256);
    }
    m_pChain->expandAll();
    m_pChain->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    if (signature.chain().isEmpty())
        m_pChain->hide();
    layout->addWidget(m_pChain, 1);

    auto* const buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}
