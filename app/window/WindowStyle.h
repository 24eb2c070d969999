#pragma once

#include <QObject>
#include <QRgb>
#include <QString>
#include <QVector>

class QPalette;
class QWidget;

// The program's look: style sheets whose colours come from the palette's roles, with
// the light look's gradients added where the palette is light. Set on the
// application, and set again when the desktop changes the palette, as the colours
// that a style sheet takes from the palette are fixed when it is set.
class CWindowStyle : public QObject
{
    Q_OBJECT

public:
    // Watches window for palette changes; nothing is set before apply().
    explicit CWindowStyle(QWidget* window);

    // A palette whose window colour is darker than its text.
    static bool isDark(const QPalette& palette);
    // The built-in style sheets for palette, then the working directory's
    // style.qss, which may add to or change them.
    static QString styleSheet(const QPalette& palette);
    // Sets the style sheets for the application's palette.
    void apply();

signals:
    // The style sheet just set on the application.
    void applied(const QString& styleSheet);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The colours of the palette that the style sheets take.
    static QVector<QRgb> colorsOf(const QPalette& palette);

    QVector<QRgb> m_lAppliedColors;
    bool m_bPending = false;
};
