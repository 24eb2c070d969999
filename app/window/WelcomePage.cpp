#include "WelcomePage.h"

#include "app/document/ShownText.h"
#include "shared/XmlWidgets/PageHolder.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

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
         QString()},
        {tr("Tessary opens disk images (.dmg), flat and bundle packages (.pkg, .mpkg), Linux "
            "script installers (.package) and saved customizations (.xml).") +
             QLatin1Char(' ') + tr("Choose File > Open, or drop a file on this window."),
         true, QString()}};
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

    m_pRecentHeading = new QLabel(tr("Recent files:"), widget());
    m_pRecentHeading->setObjectName(QStringLiteral("h2"));
    m_pRecentHeading->setContentsMargins(0, 12, 0, 0);
    layout->addWidget(m_pRecentHeading, row++, 0);
    m_pRecentList = new QVBoxLayout;
    m_pRecentList->setContentsMargins(5, 0, 0, 0);
    layout->addLayout(m_pRecentList, row++, 0);
    layout->setRowStretch(row, 1);
    setRecentFiles(QStringList());
}

CWelcomePage::~CWelcomePage() = default;

void CWelcomePage::setPageName(const QString& name)
{
    setName(name);
    setObjectName(name);
}

void CWelcomePage::setRecentFiles(const QStringList& files)
{
    m_lRecentFiles = files;
    while (QLayoutItem* const item = m_pRecentList->takeAt(0))
    {
        // The list changes while a link's own signal is delivered (a file that
        // could not be opened leaves it): the link goes once that has returned.
        if (QWidget* const link = item->widget())
        {
            link->hide();
            link->deleteLater();
        }
        delete item;
    }
    for (int i = 0; i < files.size(); ++i)
    {
        const QFileInfo file(files.at(i));
        // A file name may hold anything a name can: it is shown escaped, and the link
        // names the entry, not the path, so nothing in a name becomes an address.
        const QString name = CShownText::escaped(file.fileName());
        const QString folder = CShownText::escaped(QDir::toNativeSeparators(file.absolutePath()));
        QLabel* const link = new QLabel(widget());
        link->setTextFormat(Qt::RichText);
        link->setText(QStringLiteral("<a href=\"%1\">%2</a>&nbsp;&nbsp;<small>%3</small>")
                          .arg(i)
                          .arg(name.toHtmlEscaped(), folder.toHtmlEscaped()));
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        link->setFocusPolicy(Qt::StrongFocus);
        link->setToolTip(CShownText::escaped(QDir::toNativeSeparators(file.filePath())));
        link->setAccessibleName(tr("Open %1").arg(name));
        link->setAccessibleDescription(folder);
        connect(link, &QLabel::linkActivated, this,
                [this](const QString& entry)
                {
                    bool ok = false;
                    const int index = entry.toInt(&ok);
                    if (ok && index >= 0 && index < m_lRecentFiles.size())
                        emit recentFileChosen(m_lRecentFiles.at(index));
                });
        m_pRecentList->addWidget(link);
    }
    m_pRecentHeading->setVisible(!files.isEmpty());
}

QList<QLabel*> CWelcomePage::recentLinks() const
{
    QList<QLabel*> links;
    for (int i = 0; i < m_pRecentList->count(); ++i)
        if (QLabel* const link = qobject_cast<QLabel*>(m_pRecentList->itemAt(i)->widget()))
            links << link;
    return links;
}
