#pragma once

#include "app/packages/PackageSignature.h"

#include <QDialog>

class QTreeWidget;

// The opened installer's signature in full: the verdict, the time stamp, the warnings
// and every certificate of the chain with its subject, issuer, validity, usages and
// fingerprint. Every text is shown as plain text, already escaped by the signature,
// so a certificate cannot format the dialog or fake a row.
class CSignatureDetailsDialog : public QDialog
{
    Q_OBJECT

public:
    CSignatureDetailsDialog(const CPackageSignature& signature, QWidget* parent = nullptr);

    // The chain, a top-level row per certificate (signer first) with its facts below.
    QTreeWidget* chainView() const { return m_pChain; }

private:
    QTreeWidget* m_pChain;
};
