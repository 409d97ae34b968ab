#include "display_bar.h"

#include "bayer_pattern.h"
#include "kestro_app.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <array>
#include <vector>

namespace {

enum class Kind { Radio, Combo, Push, Check };

struct ControlTemplate {
    int nId;
    Kind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
};

// In tab order. The bar reads, left to right: the modes, the patterns, the algorithm list and
// the greyscale box. RG stands left of GR although its pattern code is the higher one.
constexpr std::array kControls{
    ControlTemplate{ids::IDC_DISPLAY_NORMAL, Kind::Radio, "Normal", 4, 3, 38, 10},
    ControlTemplate{ids::IDC_DISPLAY_RAW_Y, Kind::Radio, "RAW Y-channel", 44, 3, 67, 10},
    ControlTemplate{ids::IDC_DISPLAY_RAW_COLOUR, Kind::Radio, "RAW colour", 115, 3, 55, 10},
    ControlTemplate{ids::IDC_ALGORITHM, Kind::Combo, "", 254, 2, 124, 121},
    ControlTemplate{ids::IDC_PATTERN_BG, Kind::Push, kestro::bayer::kBG.button, 174, 1, 16, 14},
    ControlTemplate{ids::IDC_PATTERN_GB, Kind::Push, kestro::bayer::kGB.button, 193, 1, 16, 14},
    ControlTemplate{ids::IDC_PATTERN_RG, Kind::Push, kestro::bayer::kRG.button, 212, 1, 16, 14},
    ControlTemplate{ids::IDC_PATTERN_GR, Kind::Push, kestro::bayer::kGR.button, 231, 1, 16, 14},
    ControlTemplate{ids::IDC_GRAYSCALE, Kind::Check, "Grayscale", 380, 3, 47, 10},
};
constexpr int kBarWidthDlu = 426;
constexpr int kBarHeightDlu = 16;

} // namespace

CDisplayBar::CDisplayBar(QWidget* pParent) : QWidget(pParent)
{
    for (const ControlTemplate& t : kControls) {
        const QString text = QString::fromUtf8(t.text);
        QWidget* pControl = nullptr;
        switch (t.kind) {
        case Kind::Radio: {
            auto* p = new QRadioButton(text, this);
            connect(p, &QRadioButton::clicked, this, [this, id = t.nId] { emit command(id); });
            pControl = p;
            break;
        }
        case Kind::Check: {
            auto* p = new QCheckBox(text, this);
            connect(p, &QCheckBox::clicked, this, [this, id = t.nId] { emit command(id); });
            pControl = p;
            break;
        }
        case Kind::Push: {
            // The chosen pattern shows pushed; ShowPatternButton keeps exactly one so.
            auto* p = new QPushButton(text, this);
            p->setCheckable(true);
            p->setAutoDefault(false);
            connect(p, &QPushButton::clicked, this, [this, id = t.nId] { emit command(id); });
            pControl = p;
            break;
        }
        case Kind::Combo: {
            // A drop-down with an edit field, not sorted. Text typed into the field is never
            // added to the list; only picking an entry counts as a change.
            auto* p = new QComboBox(this);
            p->setEditable(true);
            p->setInsertPolicy(QComboBox::NoInsert);
            p->setMaxVisibleItems(8);
            // activated, not currentIndexChanged: selecting by program raises no notification.
            connect(p, &QComboBox::activated, this, [this, id = t.nId] { emit command(id); });
            pControl = p;
            break;
        }
        }
        // A click on a button leaves the keyboard with the pane the user works in, so the arrow
        // keys go on stepping through frames; Tab still reaches every control.
        if (t.kind != Kind::Combo)
            pControl->setFocusPolicy(Qt::TabFocus);
        pControl->setObjectName(QStringLiteral("control%1").arg(t.nId));
        m_controls.emplace(t.nId, pControl);
    }
    LayoutControls();
}

QWidget* CDisplayBar::GetDlgItem(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QSize CDisplayBar::sizeHint() const { return m_size; }

void CDisplayBar::changeEvent(QEvent* pEvent)
{
    QWidget::changeEvent(pEvent);
    if (pEvent->type() == QEvent::FontChange || pEvent->type() == QEvent::StyleChange)
        LayoutControls();
}

// Places the controls from their dialog-unit rectangles. Where this desktop's font or style
// needs more room than a rectangle gives, the control grows and everything to its right moves
// along, so no caption is ever cut off; the order and the gaps stay.
void CDisplayBar::LayoutControls()
{
    const QFontMetrics fm(font());
    const int nBaseX = std::max(1, fm.averageCharWidth());
    const int nBaseY = std::max(1, fm.height());
    const auto px = [nBaseX](int dlu) { return dlu * nBaseX / 4; };
    const auto py = [nBaseY](int dlu) { return dlu * nBaseY / 8; };

    std::vector<const ControlTemplate*> leftToRight;
    for (const ControlTemplate& t : kControls)
        leftToRight.push_back(&t);
    std::stable_sort(leftToRight.begin(), leftToRight.end(),
                     [](const ControlTemplate* a, const ControlTemplate* b) { return a->x < b->x; });

    int nShift = 0;
    int nHeight = py(kBarHeightDlu);
    for (const ControlTemplate* t : leftToRight) {
        QWidget* pControl = m_controls.at(t->nId);
        const QSize hint = pControl->sizeHint();
        const int nCy = t->kind == Kind::Combo ? hint.height() : std::max(py(t->cy), hint.height());
        nHeight = std::max(nHeight, nCy + 2);
    }
    for (const ControlTemplate* t : leftToRight) {
        QWidget* pControl = m_controls.at(t->nId);
        const QSize hint = pControl->sizeHint();
        // Styles give push buttons a wide minimum meant for "OK" and "Cancel"; a pattern
        // button only needs room for its two letters.
        const int nNeeded = t->kind == Kind::Combo  ? 0
                            : t->kind == Kind::Push ? fm.horizontalAdvance(QString::fromUtf8(t->text)) + 12
                                                    : hint.width();
        const int nCx = std::max(px(t->cx), nNeeded);
        const int nCy = t->kind == Kind::Combo ? hint.height() : std::max(py(t->cy), hint.height());
        pControl->setGeometry(px(t->x) + nShift, (nHeight - nCy) / 2, nCx, nCy);
        nShift += nCx - px(t->cx);
    }
    m_size = QSize(px(kBarWidthDlu) + nShift, nHeight);
    updateGeometry();
}

QWidget* DisplayBarControl(int nId)
{
    const CMainFrame* pFrame = CKestroApp::MainFrame();
    return pFrame ? pFrame->GetDisplayBar().GetDlgItem(nId) : nullptr;
}

void ShowPatternButton(int nId)
{
    for (int nButton : {ids::IDC_PATTERN_BG, ids::IDC_PATTERN_GB, ids::IDC_PATTERN_GR, ids::IDC_PATTERN_RG}) {
        auto* pButton = static_cast<QPushButton*>(DisplayBarControl(nButton));
        if (pButton == nullptr)
            return;
        pButton->setChecked(nButton == nId);
        pButton->update();
    }
}
