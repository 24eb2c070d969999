#include "WelcomePage.h"

#include "shared/XmlWidgets/PageHolder.h"

#include <QGridLayout>
#include <QLabel>

CWelcomePage::CWelcomePage(CPageHolder* holder, QWidget* parent) : CPage(holder, parent)
{
    setWindowTitle(tr("Welcome to the Tessary"));
    // The heading keeps the long text; the index row shows the short one.
    QWidget::setWindowTitle(tr("Welcome"));

    QGridLayout* const layout = new QGridLayout(widget());
    struct Row
    {
        QString text;
        bool wrap;
        QString toolTip;
    };
    const Row rows[] = {
        {tr("How to use:"), false, QString()},
        {tr("1: Open an installation package (.dmg/.pkg) to customize."), true,
         tr("Testing label tooltip...")},
        {tr("2: Customize installation package."), true, QString()},
        {tr("3: Publish customization changes (.pkg) for deployment."), true, QString()},
        {tr("4: Deploy customized installer (.pkg) with your software deployment tools."), true,
         QString()}};
    int row = 0;
    for (const Row& content : rows)
    {
        QLabel* const label = new QLabel(content.text, widget());
        label->setObjectName(QStringLiteral("h3"));
        label->setWordWrap(content.wrap);
        if (content.wrap)
            label->setMargin(5);
        if (!content.toolTip.isEmpty())
            label->setToolTip(content.toolTip);
        layout->addWidget(label, row++, 0);
    }
    layout->setRowStretch(row, 1);
}

CWelcomePage::~CWelcomePage() = default;

void CWelcomePage::setPageName(const QString& name)
{
    setName(name);
    setObjectName(name);
}
