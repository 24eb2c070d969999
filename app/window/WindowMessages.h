#pragma once

#include <QCoreApplication>
#include <QString>

class QWidget;

// The window's message boxes: one OK button, the document's title as caption,
// shown with the arrow cursor whatever the program is doing.
class CWindowMessages
{
    Q_DECLARE_TR_FUNCTIONS(CWindowMessages)

public:
    static void warn(QWidget* parent, const QString& caption, const QString& text);
    static void inform(QWidget* parent, const QString& caption, const QString& text);
    // text with the output's path below it and a button that shows the output in
    // the file manager.
    static void informPublished(QWidget* parent, const QString& caption, const QString& text,
                                const QString& output);
    // Shows path's folder in the file manager (on a Mac, the file selected in the
    // Finder); false when nothing could be asked to show it.
    static bool showInFileManager(const QString& path);
};
