#include "OverrideCursor.h"

#include <QApplication>
#include <QCursor>

COverrideCursor::COverrideCursor(Qt::CursorShape shape)
{
    QApplication::setOverrideCursor(QCursor(shape));
}

COverrideCursor::~COverrideCursor()
{
    QApplication::restoreOverrideCursor();
}
