#include "timeline.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "left_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QColor kUnscored(0x80, 0x80, 0x80);
// Scores from the worst to the best of the capture: dark to bright, so the sharp stretches stand
// out against the dark sky colours of the rest.
const QColor kWorst(0x1c, 0x25, 0x33);
const QColor kBest(0x9c, 0xd2, 0xff);
const QColor kDropped(0xd0, 0x3a, 0x3a);
const QColor kUnticked(0xe8, 0xa0, 0x30);

QColor Blend(const QColor& a, const QColor& b, float t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

} // namespace

CTimelineSlider::CTimelineSlider(QWidget* pParent) : QSlider(Qt::Horizontal, pParent)
{
    setObjectName(QStringLiteral("timelineSlider"));
}

QStyleOptionSlider CTimelineSlider::StyleOption() const
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return opt;
}

int CTimelineSlider::FirstX() const
{
    const QStyleOptionSlider opt = StyleOption();
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    return groove.x() + handle.width() / 2;
}

int CTimelineSlider::LastX() const
{
    const QStyleOptionSlider opt = StyleOption();
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    return groove.x() + handle.width() / 2 + std::max(groove.width() - handle.width(), 0);
}

int CTimelineSlider::ValueAt(int x) const
{
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x - FirstX(), std::max(LastX() - FirstX(), 1));
}

void CTimelineSlider::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton && isEnabled()) {
        const QStyleOptionSlider opt = StyleOption();
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        // The handle jumps under the pointer; the press then takes hold of it, so the same press
        // can go on as a drag.
        if (!handle.contains(pEvent->position().toPoint()))
            setValue(ValueAt(pEvent->position().toPoint().x()));
    }
    QSlider::mousePressEvent(pEvent);
}

CTimeline::CTimeline(CKestroDoc& doc, CLeftView& list, QWidget* pParent)
    : QWidget(pParent), m_doc(doc), m_list(list), m_pSlider(new CTimelineSlider(this))
{
    setObjectName(QStringLiteral("timeline"));
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(4, kStripHeight + 1, 4, 1);
    pLayout->addWidget(m_pSlider);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_pSlider->setRange(0, 0);
    m_pSlider->setEnabled(false);
    // The picture follows the handle while it is dragged, not only where it is let go: the frame
    // view makes one render of many requests, so a fast drag costs no more than the pictures
    // there is time to show.
    m_pSlider->setTracking(true);
    connect(m_pSlider, &QSlider::valueChanged, this, &CTimeline::OnSliderValue);
    connect(m_pSlider, &QSlider::sliderPressed, this, &CTimeline::scrubbed);

    CFrameListModel& model = m_list.GetModel();
    connect(&model, &QAbstractItemModel::modelReset, this, &CTimeline::OnRowsReset);
    // Ticks and scores: the marks and the strip.
    connect(&model, &QAbstractItemModel::dataChanged, this, &CTimeline::Outdate);
    connect(m_list.selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            Follow(current.row());
    });
    OnRowsReset();
}

void CTimeline::OnRowsReset()
{
    const int nRows = m_list.GetModel().rowCount();
    m_data.assign(static_cast<std::size_t>(nRows), 0);
    const CVideoSource& source = m_doc.m_videoSource;
    // By jumps over the stored frames: runs of dropped ones cost one question each.
    for (std::int32_t n = 0; n < nRows;) {
        const std::int32_t nData = source.FindDataFrame(n);
        if (nData < 0 || nData >= nRows)
            break;
        m_data[static_cast<std::size_t>(nData)] = 1;
        n = nData + 1;
    }
    {
        const QSignalBlocker block(m_pSlider);
        m_pSlider->setRange(0, std::max(nRows - 1, 0));
        m_pSlider->setValue(std::max(m_list.currentIndex().row(), 0));
        // Page Up and Page Down cross a twentieth of the capture, arrows one frame.
        m_pSlider->setSingleStep(1);
        m_pSlider->setPageStep(std::max(nRows / 20, 1));
    }
    m_pSlider->setEnabled(nRows > 0);
    Outdate();
}

void CTimeline::Follow(int nRow)
{
    if (m_pSlider->value() == nRow)
        return;
    // The list moved; the slider only shows it, and must not move the list back.
    m_bFollowing = true;
    m_pSlider->setValue(nRow);
    m_bFollowing = false;
}

void CTimeline::OnSliderValue(int nValue)
{
    if (m_bFollowing)
        return;
    emit scrubbed();
    m_list.GoToRow(nValue);
}

void CTimeline::Outdate()
{
    if (m_bSummaryOutdated)
        return;
    m_bSummaryOutdated = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_bSummaryOutdated)
                return;
            MakeSummary();
            update();
        },
        Qt::QueuedConnection);
}

const std::vector<CTimeline::Column>& CTimeline::GetSummary()
{
    if (m_bSummaryOutdated)
        MakeSummary();
    return m_summary;
}

int CTimeline::StripLeft() const { return m_pSlider->x() + m_pSlider->FirstX(); }

void CTimeline::MakeSummary()
{
    m_bSummaryOutdated = false;
    const CFrameListModel& model = m_list.GetModel();
    const std::int64_t nFrames = std::min<std::int64_t>(model.rowCount(), static_cast<std::int64_t>(m_data.size()));
    const int nColumns = std::max(m_pSlider->LastX() - m_pSlider->FirstX(), 0) + 1;
    m_summary.assign(nFrames > 0 ? static_cast<std::size_t>(nColumns) : 0, Column{});
    if (nFrames <= 0)
        return;
    const double lowest = model.GetLowestScore();
    const double highest = model.GetHighestScore();
    const std::int64_t nLast = nFrames - 1;
    const double span = std::max(nColumns - 1, 1);
    // Column c stands for the frames whose handle stands nearest to it (n * span / nLast rounds
    // to c); with fewer frames than pixels, for the frame nearest. Every frame is looked at once,
    // whatever the width.
    for (int c = 0; c < nColumns; ++c) {
        std::int64_t nFrom = static_cast<std::int64_t>(std::ceil((c - 0.5) * nLast / span));
        std::int64_t nTo = static_cast<std::int64_t>(std::ceil((c + 0.5) * nLast / span)) - 1;
        nFrom = std::clamp<std::int64_t>(nFrom, 0, nLast);
        nTo = std::clamp<std::int64_t>(nTo, 0, nLast);
        if (nFrom > nTo)
            nFrom = nTo = std::clamp<std::int64_t>(std::llround(c * nLast / span), 0, nLast);
        Column& column = m_summary[static_cast<std::size_t>(c)];
        for (std::int64_t n = nFrom; n <= nTo; ++n) {
            const int nRow = static_cast<int>(n);
            if (m_data[static_cast<std::size_t>(n)] == 0)
                column.bDropped = true;
            else if (!model.IsTicked(nRow))
                column.bUnticked = true;
            if (const std::optional<double> score = model.ScoreOf(nRow)) {
                const double share = highest > lowest ? (*score - lowest) / (highest - lowest) : 1.0;
                column.score = std::max(column.score, static_cast<float>(std::clamp(share, 0.0, 1.0)));
            }
        }
    }
}

void CTimeline::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    Outdate();
}

void CTimeline::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int nLeft = StripLeft();
    const QRect strip(nLeft, 1, static_cast<int>(m_summary.size()), kStripHeight - 1);
    if (m_summary.empty() || !isEnabled()) {
        painter.fillRect(QRect(nLeft, 1, m_pSlider->LastX() - m_pSlider->FirstX() + 1, kScoreHeight),
                         palette().color(QPalette::Mid));
        return;
    }
    // Runs of equal columns are drawn as one rectangle: a strip is a few dozen rectangles.
    const auto drawRuns = [&](int nTop, int nHeight, auto colourOf) {
        std::size_t i = 0;
        while (i < m_summary.size()) {
            const std::optional<QColor> colour = colourOf(m_summary[i]);
            std::size_t j = i + 1;
            while (j < m_summary.size() && colourOf(m_summary[j]) == colour)
                ++j;
            if (colour)
                painter.fillRect(QRect(nLeft + static_cast<int>(i), nTop, static_cast<int>(j - i), nHeight), *colour);
            i = j;
        }
    };
    drawRuns(strip.top(), kScoreHeight, [](const Column& c) -> std::optional<QColor> {
        if (c.score < 0)
            return kUnscored;
        // Eight shades: enough to tell sharp from soft, few enough to draw in runs.
        return Blend(kWorst, kBest, std::round(c.score * 8) / 8);
    });
    drawRuns(strip.top() + kScoreHeight + 1, kMarkHeight - 1, [](const Column& c) -> std::optional<QColor> {
        if (c.bDropped)
            return kDropped;
        if (c.bUnticked)
            return kUnticked;
        return std::nullopt;
    });
}
