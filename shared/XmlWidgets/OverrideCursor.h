#pragma once

#include <Qt>

// Puts a cursor over the whole program for as long as it lives: the wait cursor
// while the window works, the arrow while a message waits for the user. Cursors
// stack, so the one underneath comes back when this one goes.
class COverrideCursor
{
public:
    explicit COverrideCursor(Qt::CursorShape shape);
    ~COverrideCursor();
    COverrideCursor(const COverrideCursor&) = delete;
    COverrideCursor& operator=(const COverrideCursor&) = delete;
};
