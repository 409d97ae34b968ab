#include "file_drop.h"

#include "kestro_doc.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

// The local path of the first dropped item; empty when there is none or it is not a file.
QString FirstDroppedFile(const QMimeData* pData)
{
    if (pData == nullptr || !pData->hasUrls())
        return {};
    const QList<QUrl> urls = pData->urls();
    return urls.isEmpty() || !urls.front().isLocalFile() ? QString() : urls.front().toLocalFile();
}

} // namespace

void AcceptFileDrag(QDragMoveEvent* pEvent, const CKestroDoc& doc)
{
    // The file is only read: accepting a move would tell the program it came from to delete it.
    if (doc.IsExporting() || FirstDroppedFile(pEvent->mimeData()).isEmpty() ||
        !(pEvent->possibleActions() & Qt::CopyAction)) {
        pEvent->ignore();
        return;
    }
    pEvent->setDropAction(Qt::CopyAction);
    pEvent->accept();
}

void OpenDroppedFile(QDropEvent* pEvent, CKestroDoc& doc, QObject* pContext)
{
    const QString path = FirstDroppedFile(pEvent->mimeData());
    if (path.isEmpty() || !(pEvent->possibleActions() & Qt::CopyAction)) {
        pEvent->ignore();
        return;
    }
    pEvent->setDropAction(Qt::CopyAction);
    pEvent->accept();
    QMetaObject::invokeMethod(
        pContext, [&doc, path] { doc.OpenVideoFile(path); }, Qt::QueuedConnection);
}
