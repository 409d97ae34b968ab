// The rows of the frame list: one per frame, "frame %.4d" with a check box, and beside it the
// frame's quality score once it is known. The model keeps one byte per frame, and four more once
// scores arrive, and makes the texts when they are drawn, so a capture of a million frames fills
// at once.
//
// It also keeps the ticks as they were before each change the user made, so Undo can put them
// back.
#pragma once

#include "frame_scorer.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class CFrameListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kFrameColumn = 0, kQualityColumn = 1, kColumnCount = 2 };
    // How far back Undo reaches. Each step is one byte per frame.
    static constexpr std::size_t kUndoDepth = 32;

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces all rows: row i ticked exactly when ticked[i] is true; no scores, nothing to undo.
    void Reset(std::vector<std::uint8_t> ticked);
    bool IsTicked(int nRow) const;
    void SetTicked(int nRow, bool bTicked);
    // Rows nFirst to nLast, both included, as one change for the view.
    void SetTicked(int nFirst, int nLast, bool bTicked);
    // Ticks exactly the rows listed (ascending or not) and clears all others, as one change.
    void SetTickedRows(const std::vector<std::int32_t>& rows);
    std::vector<std::int32_t> TickedRows() const;

    // Keeps the ticks as they are now for Undo; called before every change of ticks by the user.
    void SaveTicksForUndo();
    bool CanUndo() const { return !m_undo.empty(); }
    // Puts the ticks saved last back; false when there is nothing to undo.
    bool Undo();

    // Scores of a batch of finished frames, shown as one change. Invalid scores (frames without
    // data or that could not be read) leave their rows blank.
    void SetScores(const std::vector<kestro::quality::FrameScore>& batch);
    void ClearScores();
    // The score of a row, nothing while it has none.
    std::optional<double> ScoreOf(int nRow) const;
    // The lowest and the highest score shown; the bars span this range.
    double GetLowestScore() const { return m_lowest; }
    double GetHighestScore() const { return m_highest; }
    // Every score known, valid or not, as a list ChooseBest takes.
    std::vector<kestro::quality::FrameScore> Scores() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int nRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

    static QString RowText(int nRow);
    static QString ScoreText(double score);

signals:
    void undoAvailable(bool bAvailable);

private:
    void ClearUndo();

    std::vector<std::uint8_t> m_ticked;
    // NaN: no score (not yet scored, no data, unreadable); empty until the first score arrives.
    // Floats, as the scorer hands them out (see frame_scorer.h), keep a million-frame list small.
    std::vector<float> m_scores;
    double m_lowest = 0.0;
    double m_highest = 0.0;
    std::size_t m_nScored = 0;
    std::deque<std::vector<std::uint8_t>> m_undo;
};
