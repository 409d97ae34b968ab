// Files dragged from a file manager onto either pane: the first one is opened, the rest are
// ignored, as the program only ever holds one capture.
#pragma once

class CKestroDoc;
class QDragMoveEvent;
class QDropEvent;
class QObject;

// Drag enter and drag move: accepted only when the first item is a local file (not a web
// address, say), and not while an export runs, which reads the capture on show.
void AcceptFileDrag(QDragMoveEvent* pEvent, const CKestroDoc& doc);

// Opens the first dropped file in the document once the drop has completed, so the program
// that dragged it is not kept waiting while a message box about the file is up. Nothing
// happens if pContext is gone by then.
void OpenDroppedFile(QDropEvent* pEvent, CKestroDoc& doc, QObject* pContext);
