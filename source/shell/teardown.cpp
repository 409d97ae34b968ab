#include "teardown.h"

#include <QObject>

void DisconnectDescendants(QObject& receiver)
{
    for (QObject* pChild : receiver.findChildren<QObject*>())
        QObject::disconnect(pChild, nullptr, &receiver, nullptr);
}
