#include "file_drop.h"

#include "kestro_doc.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

QString FirstDroppedFile(const QMimeData* pData)
{
    if (pData == nullptr || !pData->hasUrls())
        return {};
    const QList<QUrl> urls = pData->urls();
    return urls.isEmpty() || !urls.front().isLocalFile() ? QString() : urls.front().toLocalFile();
}

void AcceptFileDrag(QDragMoveEvent* pEvent)
{
    if (FirstDroppedFile(pEvent->mimeData()).isEmpty())
        pEvent->ignore();
    else
        pEvent->acceptProposedAction();
}

void OpenDroppedFile(QDropEvent* pEvent, CKestroDoc& doc, QObject* pContext)
{
    const QString path = FirstDroppedFile(pEvent->mimeData());
    if (path.isEmpty()) {
        pEvent->ignore();
        return;
    }
    pEvent->acceptProposedAction();
    QMetaObject::invokeMethod(pContext, [&doc, path] { doc.OpenVideoFile(path); }, Qt::QueuedConnection);
}
