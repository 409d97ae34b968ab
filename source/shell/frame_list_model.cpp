#include "frame_list_model.h"

#include <algorithm>

void CFrameListModel::Reset(std::vector<std::uint8_t> ticked)
{
    beginResetModel();
    m_ticked = std::move(ticked);
    endResetModel();
}

bool CFrameListModel::IsTicked(int nRow) const
{
    return nRow >= 0 && nRow < rowCount() && m_ticked[static_cast<std::size_t>(nRow)] != 0;
}

void CFrameListModel::SetTicked(int nRow, bool bTicked) { SetTicked(nRow, nRow, bTicked); }

void CFrameListModel::SetTicked(int nFirst, int nLast, bool bTicked)
{
    nFirst = std::max(nFirst, 0);
    nLast = std::min(nLast, rowCount() - 1);
    if (nFirst > nLast)
        return;
    const std::uint8_t value = bTicked ? 1 : 0;
    std::fill(m_ticked.begin() + nFirst, m_ticked.begin() + nLast + 1, value);
    emit dataChanged(index(nFirst), index(nLast), {Qt::CheckStateRole});
}

int CFrameListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_ticked.size());
}

QString CFrameListModel::RowText(int nRow) { return QString::asprintf("frame %.4d", nRow); }

QVariant CFrameListModel::data(const QModelIndex& index, int nRole) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    switch (nRole) {
    case Qt::DisplayRole: return RowText(index.row());
    case Qt::CheckStateRole: return IsTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    default: return {};
    }
}

bool CFrameListModel::setData(const QModelIndex& index, const QVariant& value, int nRole)
{
    if (!index.isValid() || nRole != Qt::CheckStateRole)
        return false;
    SetTicked(index.row(), value.value<Qt::CheckState>() != Qt::Unchecked);
    return true;
}

Qt::ItemFlags CFrameListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

QVariant CFrameListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation == Qt::Horizontal && nSection == 0) {
        if (nRole == Qt::DisplayRole)
            return QStringLiteral("Frame");
        if (nRole == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}
