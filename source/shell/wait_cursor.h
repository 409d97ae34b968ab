// Shows the wait cursor while it lives; the busy one (an arrow with it) for work in the background,
// while the window goes on taking clicks.
#pragma once

#include <QGuiApplication>

class CWaitCursor {
public:
    explicit CWaitCursor(Qt::CursorShape shape = Qt::WaitCursor) { QGuiApplication::setOverrideCursor(shape); }
    ~CWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
