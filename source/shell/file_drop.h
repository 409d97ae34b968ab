// Files dragged from a file manager onto either pane: the first one is opened, the rest are
// ignored, as the program only ever holds one capture.
#pragma once

#include <QString>

class CKestroDoc;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;
class QObject;

// The local path of the first dropped item; empty when there is none or it is not a local
// file (a web address, say), in which case the drop is refused.
QString FirstDroppedFile(const QMimeData* pData);

// Drag enter and drag move: accepted only when the first item is a local file.
void AcceptFileDrag(QDragMoveEvent* pEvent);

// Opens the first dropped file in the document once the drop has completed, so the program
// that dragged it is not kept waiting while a message box about the file is up. Nothing
// happens if pContext is gone by then.
void OpenDroppedFile(QDropEvent* pEvent, CKestroDoc& doc, QObject* pContext);
