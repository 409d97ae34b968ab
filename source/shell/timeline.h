// The timeline under the picture: a slider over the whole capture, and above it a thin strip
// that shows at a glance where the sharp stretches are (the Quality scores, grey until scored)
// and which frames are unticked or were dropped by the camera.
//
// The slider and the frame list always show the same frame: the list's current row moves the
// slider, and moving the slider (a drag, a click, its keys) moves the list's row, so the picture
// and the status bar follow as they do for a key in the list; the picture follows while dragging.
// The strip is drawn from a summary of one entry per pixel, made again when the ticks, the
// scores or the width change, so a capture of a million frames draws as fast as one of ten.
#pragma once

#include <QSlider>
#include <QWidget>

#include <cstdint>
#include <vector>

class CKestroDoc;
class CLeftView;
class QStyleOptionSlider;

// A slider whose click lands the handle where the pointer is (a timeline is pointed at, not
// paged through), and which says where each value's handle stands.
class CTimelineSlider : public QSlider {
    Q_OBJECT
public:
    explicit CTimelineSlider(QWidget* pParent = nullptr);
    // The x (in the slider's coordinates) of the handle's middle at each end of the range.
    int FirstX() const;
    int LastX() const;
    // The value whose handle stands at x, for the tests' clicks and drags.
    int ValueAt(int x) const;

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    QStyleOptionSlider StyleOption() const;
};

class CTimeline : public QWidget {
    Q_OBJECT
public:
    static constexpr int kScoreHeight = 5;
    static constexpr int kMarkHeight = 4;
    static constexpr int kStripHeight = kScoreHeight + kMarkHeight + 1;

    // What one pixel column of the strip stands for: the frames under it.
    struct Column {
        bool bDropped = false;  // one of them holds no data
        bool bUnticked = false; // one of them (holding data) is unticked
        float score = -1.0F;    // the best of their scores, shared from 0 (worst) to 1; < 0: none
    };

    CTimeline(CKestroDoc& doc, CLeftView& list, QWidget* pParent = nullptr);

    CTimelineSlider& GetSlider() const { return *m_pSlider; }
    // The summary the strip shows, one entry per pixel from the slider's FirstX to its LastX;
    // made again at once when it was out of date.
    const std::vector<Column>& GetSummary();
    // The x (in this widget) of the strip's first column.
    int StripLeft() const;

signals:
    // The user moved the slider or took hold of it: playback gives way.
    void scrubbed();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    // The list's rows changed wholesale (another capture): range, data flags, summary.
    void OnRowsReset();
    void Follow(int nRow);
    void OnSliderValue(int nValue);
    // Asks for the summary to be made again before the next paint, once however often asked.
    void Outdate();
    void MakeSummary();

    CKestroDoc& m_doc;
    CLeftView& m_list;
    CTimelineSlider* m_pSlider;
    // Per frame: 1 when it holds data. Ticks and scores are read from the list's model.
    std::vector<std::uint8_t> m_data;
    std::vector<Column> m_summary;
    bool m_bSummaryOutdated = false;
    bool m_bFollowing = false;
};
