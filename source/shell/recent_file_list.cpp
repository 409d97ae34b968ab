#include "recent_file_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

CRecentFileList::CRecentFileList(int nSize, int nMaxDisplayLength)
    : m_slots(static_cast<std::size_t>(std::max(nSize, 1))), m_nMaxDisplayLength(nMaxDisplayLength)
{
}

int CRecentFileList::GetCount() const
{
    return static_cast<int>(std::find(m_slots.begin(), m_slots.end(), QString()) - m_slots.begin());
}

void CRecentFileList::Add(const QString& path)
{
    if (path.isEmpty())
        return;
    const QString full = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    auto same = std::find(m_slots.begin(), m_slots.end(), full);
    if (same == m_slots.end())
        same = m_slots.end() - 1; // the oldest entry drops off
    std::rotate(m_slots.begin(), same, same + 1);
    m_slots.front() = full;
}

QString CRecentFileList::GetDisplayName(int i) const { return AbbreviatePath((*this)[i], m_nMaxDisplayLength); }

void CRecentFileList::ReadList()
{
    QSettings settings;
    settings.beginGroup(kSection);
    // Slots are read one by one, so a gap in the store (File2 missing) leaves that slot empty;
    // the list is then packed so that the entries in use stand at the top.
    std::vector<QString> read;
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        const QString entry = settings.value(QString::fromLatin1(kEntryFormat).arg(i + 1)).toString();
        if (!entry.isEmpty())
            read.push_back(entry);
    }
    std::fill(m_slots.begin(), m_slots.end(), QString());
    std::copy(read.begin(), read.end(), m_slots.begin());
}

void CRecentFileList::WriteList() const
{
    QSettings settings;
    settings.beginGroup(kSection);
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        const QString key = QString::fromLatin1(kEntryFormat).arg(i + 1);
        if (m_slots[i].isEmpty())
            settings.remove(key);
        else
            settings.setValue(key, m_slots[i]);
    }
}

QString CRecentFileList::AbbreviatePath(const QString& path, int nMax)
{
    if (path.size() <= nMax)
        return path;
    static const QString kEllipsis = QStringLiteral("...");
    const QString name = QFileInfo(path).fileName();
    const QString root = path.startsWith(u'/') ? QStringLiteral("/") : QString();
    const QString prefix = root + kEllipsis + u'/';
    if (name.isEmpty() || prefix.size() + name.size() > nMax) {
        // Not even root, ellipsis and name fit: keep both ends of the name.
        const QString& whole = name.isEmpty() ? path : name;
        if (whole.size() <= nMax)
            return whole;
        const qsizetype keep = std::max<qsizetype>(nMax - kEllipsis.size(), 0);
        const qsizetype head = (keep + 1) / 2;
        return whole.left(head) + kEllipsis + whole.right(keep - head);
    }
    // Add trailing folders for as long as they fit.
    QString tail = name;
    qsizetype end = path.size() - name.size() - 1; // the slash before the name
    while (end > 0) {
        const qsizetype start = path.lastIndexOf(u'/', end - 1);
        const QString folder = path.mid(start + 1, end - start - 1);
        if (start < 0 || prefix.size() + folder.size() + 1 + tail.size() > nMax)
            break;
        tail = folder + u'/' + tail;
        end = start;
    }
    return prefix + tail;
}
