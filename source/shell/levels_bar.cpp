#include "levels_bar.h"

#include "kestro_view.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <cmath>

using kestro::shell::DisplayLevels;

namespace {

// Every control says what it touches, since a brighter picture on screen might otherwise be
// taken for a brighter export.
const QString kDisplayOnly = QStringLiteral(" Changes the display only; exports are never changed.");

} // namespace

CHistogramView::CHistogramView(const CKestroView& view, QWidget* pParent) : QWidget(pParent), m_view(view)
{
    setObjectName(QStringLiteral("levelsHistogram"));
    setMinimumSize(sizeHint());
    setToolTip(QStringLiteral("Histogram of the frame on show, before the levels; the marks are the black and white "
                              "points.") +
               kDisplayOnly);
}

void CHistogramView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x20, 0x20, 0x20));
    const kestro::shell::FrameHistogram& h = m_view.GetHistogram();
    const double w = width() - 1;
    const double ht = height() - 1;
    if (h.bValid) {
        const int nChannels = h.bColour ? 3 : 1;
        // Square roots keep a faint planet visible beside a sky that fills most of the frame.
        double dMax = 1;
        for (int c = 0; c < nChannels; ++c)
            for (std::uint32_t n : h.counts[c])
                dMax = std::max(dMax, std::sqrt(double(n)));
        const QColor colours[3] = {h.bColour ? QColor(0x50, 0x8c, 0xff) : QColor(0xd0, 0xd0, 0xd0),
                                   QColor(0x50, 0xd0, 0x50), QColor(0xff, 0x50, 0x50)};
        painter.setRenderHint(QPainter::Antialiasing);
        for (int c = 0; c < nChannels; ++c) {
            QPainterPath path;
            for (int v = 0; v < 256; ++v) {
                const QPointF p(v * w / 255.0, ht - ht * std::sqrt(double(h.counts[c][v])) / dMax);
                if (v == 0)
                    path.moveTo(p);
                else
                    path.lineTo(p);
            }
            painter.setPen(QPen(colours[c], 1));
            painter.drawPath(path);
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
    }
    const DisplayLevels& l = m_view.GetLevels();
    painter.setPen(QColor(0xf0, 0xc0, 0x40));
    for (int v : {l.nBlack, l.nWhite}) {
        const int x = static_cast<int>(std::lround(v * w / 255.0));
        painter.drawLine(x, 0, x, height());
    }
}

CLevelsBar::CLevelsBar(CKestroView& view, QWidget* pParent)
    : QWidget(pParent),
      m_view(view),
      m_pBlack(new QSpinBox(this)),
      m_pWhite(new QSpinBox(this)),
      m_pGamma(new QDoubleSpinBox(this)),
      m_pAuto(new QPushButton(QStringLiteral("Auto"), this)),
      m_pReset(new QPushButton(QStringLiteral("Reset"), this)),
      m_pHistogram(new CHistogramView(view, this))
{
    setObjectName(QStringLiteral("levelsBar"));
    m_pBlack->setObjectName(QStringLiteral("levelsBlack"));
    m_pWhite->setObjectName(QStringLiteral("levelsWhite"));
    m_pGamma->setObjectName(QStringLiteral("levelsGamma"));
    m_pAuto->setObjectName(QStringLiteral("levelsAuto"));
    m_pReset->setObjectName(QStringLiteral("levelsReset"));
    m_pBlack->setRange(0, 255 - DisplayLevels::kMinGap);
    m_pWhite->setRange(DisplayLevels::kMinGap, 255);
    m_pGamma->setRange(DisplayLevels::kMinGamma, DisplayLevels::kMaxGamma);
    m_pGamma->setDecimals(2);
    m_pGamma->setSingleStep(0.05);
    m_pBlack->setToolTip(QStringLiteral("Black point: values at or below it show black.") + kDisplayOnly);
    m_pWhite->setToolTip(QStringLiteral("White point: values at or above it show white.") + kDisplayOnly);
    m_pGamma->setToolTip(QStringLiteral("Gamma: above 1 lifts the shadows, below 1 deepens them.") + kDisplayOnly);
    m_pAuto->setToolTip(QStringLiteral("Stretch the levels from the histogram of the frame on show (the darkest and "
                                       "brightest 0.1% clip).") +
                        kDisplayOnly);
    m_pReset->setToolTip(QStringLiteral("Show the frame as it is: black 0, white 255, gamma 1.") + kDisplayOnly);
    // The buttons leave the keyboard where it was, so the arrow keys go on stepping.
    m_pAuto->setFocusPolicy(Qt::NoFocus);
    m_pReset->setFocusPolicy(Qt::NoFocus);

    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(4, 0, 4, 0);
    for (const auto& [text, pField] :
         {std::pair{"&Black", static_cast<QWidget*>(m_pBlack)}, std::pair{"W&hite", static_cast<QWidget*>(m_pWhite)},
          std::pair{"Ga&mma", static_cast<QWidget*>(m_pGamma)}}) {
        auto* pLabel = new QLabel(QString::fromLatin1(text), this);
        pLabel->setBuddy(pField);
        pLayout->addWidget(pLabel);
        pLayout->addWidget(pField);
    }
    pLayout->addWidget(m_pAuto);
    pLayout->addWidget(m_pReset);
    pLayout->addWidget(m_pHistogram);

    ShowLevels();
    connect(m_pBlack, &QSpinBox::valueChanged, this, &CLevelsBar::Apply);
    connect(m_pWhite, &QSpinBox::valueChanged, this, &CLevelsBar::Apply);
    connect(m_pGamma, &QDoubleSpinBox::valueChanged, this, &CLevelsBar::Apply);
    connect(m_pAuto, &QPushButton::clicked, &m_view, &CKestroView::RequestAutoLevels);
    connect(m_pReset, &QPushButton::clicked, &m_view, &CKestroView::ResetLevels);
    connect(&m_view, &CKestroView::levelsChanged, this, [this] {
        ShowLevels();
        m_pHistogram->update();
    });
    connect(&m_view, &CKestroView::histogramChanged, m_pHistogram, qOverload<>(&QWidget::update));
}

void CLevelsBar::Apply()
{
    DisplayLevels l;
    l.nBlack = m_pBlack->value();
    l.nWhite = m_pWhite->value();
    l.dGamma = m_pGamma->value();
    m_view.SetLevels(l);
    // A black point above the white one moves the white one: the fields show what is in force.
    ShowLevels();
}

void CLevelsBar::ShowLevels()
{
    const DisplayLevels& l = m_view.GetLevels();
    const QSignalBlocker blockBlack(m_pBlack), blockWhite(m_pWhite), blockGamma(m_pGamma);
    m_pBlack->setValue(l.nBlack);
    m_pWhite->setValue(l.nWhite);
    m_pGamma->setValue(l.dGamma);
}
