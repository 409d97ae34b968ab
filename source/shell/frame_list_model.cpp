#include "frame_list_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kNoScore = std::numeric_limits<float>::quiet_NaN();

} // namespace

void CFrameListModel::Reset(std::vector<std::uint8_t> ticked)
{
    beginResetModel();
    m_ticked = std::move(ticked);
    m_scores = {};
    m_lowest = m_highest = 0.0;
    m_nScored = 0;
    endResetModel();
    ClearUndo();
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
    emit dataChanged(index(nFirst, kFrameColumn), index(nLast, kFrameColumn), {Qt::CheckStateRole});
}

void CFrameListModel::SetTickedRows(const std::vector<std::int32_t>& rows)
{
    if (m_ticked.empty())
        return;
    std::fill(m_ticked.begin(), m_ticked.end(), std::uint8_t{0});
    for (const std::int32_t r : rows) {
        if (r >= 0 && r < rowCount())
            m_ticked[static_cast<std::size_t>(r)] = 1;
    }
    emit dataChanged(index(0, kFrameColumn), index(rowCount() - 1, kFrameColumn), {Qt::CheckStateRole});
}

std::vector<std::int32_t> CFrameListModel::TickedRows() const
{
    std::vector<std::int32_t> rows;
    for (std::size_t i = 0; i < m_ticked.size(); ++i) {
        if (m_ticked[i] != 0)
            rows.push_back(static_cast<std::int32_t>(i));
    }
    return rows;
}

void CFrameListModel::SaveTicksForUndo()
{
    const bool bWasEmpty = m_undo.empty();
    m_undo.push_back(m_ticked);
    if (m_undo.size() > kUndoDepth)
        m_undo.pop_front();
    if (bWasEmpty)
        emit undoAvailable(true);
}

bool CFrameListModel::Undo()
{
    if (m_undo.empty())
        return false;
    std::vector<std::uint8_t> previous = std::move(m_undo.back());
    m_undo.pop_back();
    // Saved for the rows on show: a capture opened since cleared the steps.
    if (previous.size() == m_ticked.size() && !m_ticked.empty()) {
        m_ticked = std::move(previous);
        emit dataChanged(index(0, kFrameColumn), index(rowCount() - 1, kFrameColumn), {Qt::CheckStateRole});
    }
    if (m_undo.empty())
        emit undoAvailable(false);
    return true;
}

void CFrameListModel::ClearUndo()
{
    if (m_undo.empty())
        return;
    m_undo.clear();
    emit undoAvailable(false);
}

void CFrameListModel::SetScores(const std::vector<kestro::quality::FrameScore>& batch)
{
    int nFirst = rowCount(), nLast = -1;
    bool bRangeMoved = false;
    for (const kestro::quality::FrameScore& s : batch) {
        if (!s.valid || s.frame < 0 || s.frame >= rowCount() || !std::isfinite(s.score))
            continue;
        // The scores take their room when the first arrives: a list never scored stays at one
        // byte a frame.
        if (m_scores.empty())
            m_scores.assign(m_ticked.size(), kNoScore);
        float& slot = m_scores[static_cast<std::size_t>(s.frame)];
        const double score = static_cast<float>(s.score);
        if (m_nScored == 0) {
            m_lowest = m_highest = score;
            bRangeMoved = true;
        } else if (score < m_lowest || score > m_highest) {
            m_lowest = std::min(m_lowest, score);
            m_highest = std::max(m_highest, score);
            bRangeMoved = true;
        }
        if (std::isnan(slot))
            ++m_nScored;
        slot = static_cast<float>(score);
        nFirst = std::min(nFirst, s.frame);
        nLast = std::max(nLast, s.frame);
    }
    if (nLast < 0)
        return;
    // Each bar is drawn against the range of all scores, so when the range grows every bar
    // changes; either way the view hears of the batch once.
    if (bRangeMoved) {
        nFirst = 0;
        nLast = rowCount() - 1;
    }
    emit dataChanged(index(nFirst, kQualityColumn), index(nLast, kQualityColumn), {Qt::DisplayRole, Qt::ToolTipRole});
}

void CFrameListModel::ClearScores()
{
    if (m_nScored == 0)
        return;
    m_scores = {};
    m_nScored = 0;
    m_lowest = m_highest = 0.0;
    emit dataChanged(index(0, kQualityColumn), index(rowCount() - 1, kQualityColumn),
                     {Qt::DisplayRole, Qt::ToolTipRole});
}

std::optional<double> CFrameListModel::ScoreOf(int nRow) const
{
    if (nRow < 0 || nRow >= rowCount() || m_scores.empty())
        return std::nullopt;
    const float score = m_scores[static_cast<std::size_t>(nRow)];
    if (std::isnan(score))
        return std::nullopt;
    return score;
}

std::vector<kestro::quality::FrameScore> CFrameListModel::Scores() const
{
    std::vector<kestro::quality::FrameScore> scores;
    scores.reserve(m_nScored);
    for (std::size_t i = 0; i < m_scores.size(); ++i) {
        if (!std::isnan(m_scores[i]))
            scores.push_back({static_cast<std::int32_t>(i), m_scores[i], true});
    }
    return scores;
}

int CFrameListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_ticked.size());
}

int CFrameListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString CFrameListModel::RowText(int nRow) { return QString::asprintf("frame %.4d", nRow); }

QString CFrameListModel::ScoreText(double score) { return QString::number(score, 'f', 3); }

QVariant CFrameListModel::data(const QModelIndex& index, int nRole) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (index.column() == kQualityColumn) {
        const std::optional<double> score = ScoreOf(index.row());
        if (!score)
            return {};
        switch (nRole) {
        case Qt::DisplayRole: return *score;
        case Qt::ToolTipRole: return QStringLiteral("Quality %1").arg(ScoreText(*score));
        default: return {};
        }
    }
    switch (nRole) {
    case Qt::DisplayRole: return RowText(index.row());
    case Qt::CheckStateRole: return IsTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    default: return {};
    }
}

bool CFrameListModel::setData(const QModelIndex& index, const QVariant& value, int nRole)
{
    if (!index.isValid() || index.column() != kFrameColumn || nRole != Qt::CheckStateRole)
        return false;
    // A box the user ticks or clears in the list is a step Undo takes back, like the commands
    // that tick many rows at once.
    SaveTicksForUndo();
    SetTicked(index.row(), value.value<Qt::CheckState>() != Qt::Unchecked);
    return true;
}

Qt::ItemFlags CFrameListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags common = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    return index.column() == kFrameColumn ? common | Qt::ItemIsUserCheckable : common;
}

QVariant CFrameListModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (nSection == kFrameColumn) {
        if (nRole == Qt::DisplayRole)
            return QStringLiteral("Frame");
        if (nRole == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    } else if (nSection == kQualityColumn) {
        if (nRole == Qt::DisplayRole)
            return QStringLiteral("Quality");
        if (nRole == Qt::ToolTipRole)
            return QStringLiteral("Sharpness of each frame: a longer bar is sharper");
        if (nRole == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}
