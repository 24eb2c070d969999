#pragma once

#include <QString>

class QWidget;

// The window's message boxes: one OK button, the document's title as caption,
// shown with the arrow cursor whatever the program is doing.
class CWindowMessages
{
public:
    static void warn(QWidget* parent, const QString& caption, const QString& text);
    static void inform(QWidget* parent, const QString& caption, const QString& text);
};
