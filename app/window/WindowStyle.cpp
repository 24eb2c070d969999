#include "WindowStyle.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPalette>
#include <QTimer>
#include <QWidget>

namespace
{
// A local style sheet is read no further than this.
const qint64 MaxLocalStyleSheet = 256 * 1024;

QByteArray resource(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The working directory's style.qss, when it is a plain file.
QByteArray localStyleSheet()
{
    const QFileInfo info(QStringLiteral("style.qss"));
    if (!info.exists() || info.isSymLink() || !info.isFile())
        return QByteArray();
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes = file.read(MaxLocalStyleSheet);
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}
} // namespace

CWindowStyle::CWindowStyle(QWidget* window) : QObject(window)
{
    window->installEventFilter(this);
}

bool CWindowStyle::isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

QString CWindowStyle::styleSheet(const QPalette& palette)
{
    QByteArray bytes = resource(QStringLiteral(":/res/style.qss"));
    bytes += '\n';
    bytes += resource(QStringLiteral(":/res/style-mac.qss"));
    bytes += '\n';
    if (!isDark(palette))
    {
        bytes += resource(QStringLiteral(":/res/style-light.qss"));
        bytes += '\n';
    }
    bytes += localStyleSheet();
    return QString::fromUtf8(bytes);
}

void CWindowStyle::apply()
{
    m_bPending = false;
    const QPalette palette = QApplication::palette();
    m_lAppliedColors = colorsOf(palette);
    const QString sheet = styleSheet(palette);
    qApp->setStyleSheet(sheet);
    emit applied(sheet);
}

bool CWindowStyle::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::PaletteChange || type == QEvent::ApplicationPaletteChange) &&
        !m_bPending && colorsOf(QApplication::palette()) != m_lAppliedColors)
    {
        // Once every widget has the new palette: the style sheets take their
        // colours from the widgets' palettes.
        m_bPending = true;
        QTimer::singleShot(0, this, &CWindowStyle::apply);
    }
    return QObject::eventFilter(watched, event);
}

QVector<QRgb> CWindowStyle::colorsOf(const QPalette& palette)
{
    QVector<QRgb> colors;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Disabled})
    {
        for (int role = 0; role < QPalette::NColorRoles; ++role)
            colors << palette.color(group, static_cast<QPalette::ColorRole>(role)).rgba();
    }
    return colors;
}
