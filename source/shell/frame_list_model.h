// The rows of the frame list: one per frame, "frame %.4d" with a check box. The model keeps
// one byte per frame and makes the texts when they are drawn, so a capture of a million frames
// fills at once.
#pragma once

#include <QAbstractListModel>

#include <cstdint>
#include <vector>

class CFrameListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces all rows: row i ticked exactly when ticked[i] is true.
    void Reset(std::vector<std::uint8_t> ticked);
    bool IsTicked(int nRow) const;
    void SetTicked(int nRow, bool bTicked);
    // Rows nFirst to nLast, both included, as one change for the view.
    void SetTicked(int nFirst, int nLast, bool bTicked);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int nRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int nRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override;

    static QString RowText(int nRow);

private:
    std::vector<std::uint8_t> m_ticked;
};
