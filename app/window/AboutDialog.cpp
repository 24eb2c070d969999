#include "AboutDialog.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#ifndef TESSARY_VERSION_STRING
#error "TESSARY_VERSION_STRING must be defined by the build"
#endif

namespace
{
QTextBrowser* textPage(const QString& html, QWidget* parent)
{
    QTextBrowser* const browser = new QTextBrowser(parent);
    browser->setOpenExternalLinks(true);
    browser->setHtml(html);
    return browser;
}
} // namespace

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent), m_pTabs(new QTabWidget(this))
{
    setWindowTitle(tr("About Tessary"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    QLabel* const heading = new QLabel(this);
    heading->setObjectName(QStringLiteral("h1"));
    heading->setText(tr("Tessary %1").arg(versionText()));

    m_pTabs->addTab(
        textPage(tr("<p><b>Tessary</b> prepares the vendor's installers for deployment to many "
                    "computers.</p>"
                    "<p>Open an installer (a macOS flat or bundle package, a disk image or a "
                    "Linux script installer) or a saved customization file, set the "
                    "installation options on its pages, save them as a customization file "
                    "and publish a customized copy of the installer that carries your "
                    "values to every computer it is installed on.</p>"),
                 m_pTabs),
        tr("About"));
    m_pTabs->addTab(textPage(tr("<p>Version %1</p>"
                                "<p>Page definitions up to format version 1.8 are supported.</p>")
                                 .arg(versionText()),
                             m_pTabs),
                    tr("Version"));
    m_pTabs->addTab(
        textPage(tr("<p>Copyright &copy; Ombrel. All rights reserved.</p>"
                    "<p>Tessary is provided to administrators of Ombrel products under the "
                    "terms of the licence agreement of the product it was supplied with. It "
                    "is provided \"as is\", without warranty of any kind, express or implied, "
                    "including but not limited to the warranties of merchantability, fitness "
                    "for a particular purpose and non-infringement.</p>"),
                 m_pTabs),
        tr("Licence"));
    m_pTabs->addTab(
        textPage(tr("<p>Tessary uses the following components, each under its own licence:</p>"
                    "<ul>"
                    "<li>Qt 5, The Qt Company Ltd. and other contributors, GNU Lesser General "
                    "Public License version 3</li>"
                    "<li>Boost C++ Libraries, Boost Software License 1.0</li>"
                    "<li>TinyXML, Lee Thomason, zlib licence</li>"
                    "<li>libplist, libimobiledevice project, GNU Lesser General Public "
                    "License version 2.1</li>"
                    "<li>libarchive, Tim Kientzle and contributors, BSD 2-clause licence</li>"
                    "<li>zlib, Jean-loup Gailly and Mark Adler, zlib licence</li>"
                    "<li>OpenSSL (libcrypto), The OpenSSL Project Authors, Apache License "
                    "2.0</li>"
                    "<li>Zstandard (zstd), Meta Platforms, Inc. and affiliates, BSD 3-clause "
                    "licence</li>"
                    "<li>XZ Utils (liblzma), Lasse Collin and contributors, public domain</li>"
                    "<li>bzip2 (libbz2), Julian Seward, bzip2 licence (BSD-style)</li>"
                    "<li>libxml2, Daniel Veillard and contributors, MIT licence</li>"
                    "</ul>"
                    "<p>macOS is a trademark of Apple Inc., registered in the U.S. and other "
                    "countries. Other names may be trademarks of their respective owners.</p>"),
                 m_pTabs),
        tr("Legal"));

    QDialogButtonBox* const buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    QVBoxLayout* const layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_pTabs, 1);
    layout->addWidget(buttons);
    resize(520, 380);
}

CAboutDialog::~CAboutDialog() = default;

QString CAboutDialog::versionText()
{
    return QStringLiteral(TESSARY_VERSION_STRING);
}
