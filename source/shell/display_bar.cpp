#include "display_bar.h"

#include "bayer_pattern.h"
#include "kestro_app.h"
#include "main_frame.h"
#include "resource_ids.h"
#include "teardown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Push: a pattern button, which stays pushed while its pattern is in force; Button: a plain
// button that acts once.
enum class Kind { Radio, Combo, Push, Button, Check };

struct ControlTemplate {
    int nId;
    Kind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
    int nGroup;       // controls of a group stay on one row when the bar wraps
};

// In tab order. The bar reads, left to right: the modes, the patterns and their red-blue swap,
// the algorithm list and the greyscale box. RG stands left of GR although its pattern code is the
// higher one.
constexpr std::array kControls{
    ControlTemplate{ids::IDC_DISPLAY_NORMAL, Kind::Radio, "Normal", 4, 3, 38, 10, 0},
    ControlTemplate{ids::IDC_DISPLAY_RAW_Y, Kind::Radio, "RAW Y-channel", 44, 3, 67, 10, 0},
    ControlTemplate{ids::IDC_DISPLAY_RAW_COLOUR, Kind::Radio, "RAW colour", 115, 3, 55, 10, 0},
    ControlTemplate{ids::IDC_ALGORITHM, Kind::Combo, "", 276, 2, 124, 121, 2},
    ControlTemplate{ids::IDC_PATTERN_BG, Kind::Push, kestro::bayer::kBG.button, 174, 1, 16, 14, 1},
    ControlTemplate{ids::IDC_PATTERN_GB, Kind::Push, kestro::bayer::kGB.button, 193, 1, 16, 14, 1},
    ControlTemplate{ids::IDC_PATTERN_RG, Kind::Push, kestro::bayer::kRG.button, 212, 1, 16, 14, 1},
    ControlTemplate{ids::IDC_PATTERN_GR, Kind::Push, kestro::bayer::kGR.button, 231, 1, 16, 14, 1},
    // Named in full in its tooltip and for screen readers: "Swap red and blue" as a caption
    // would push the bar onto two rows in a window 800 pixels wide.
    ControlTemplate{ids::IDC_SWAP_RED_BLUE, Kind::Button, "R\u2194B", 250, 1, 20, 14, 1},
    ControlTemplate{ids::IDC_GRAYSCALE, Kind::Check, "Grayscale", 402, 3, 47, 10, 3},
};
constexpr int kGroupCount = 4;

// The algorithm list tells a choice made in its drop-down from one made with the arrow keys in
// its field: after the first the keyboard goes back to the pane, after the second it stays for
// the next arrow.
class CAlgorithmBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    // Whether the list has just closed; asking takes the answer, so it counts for one choice.
    bool TakeClosingPopup() { return std::exchange(m_bClosingPopup, false); }
    void hidePopup() override
    {
        QComboBox::hidePopup();
        // A choice in the list is announced right after the list closes, in the same turn
        // of the event loop.
        m_bClosingPopup = true;
        QTimer::singleShot(0, this, [this] { m_bClosingPopup = false; });
    }

private:
    bool m_bClosingPopup = false;
};
constexpr int kBarWidthDlu = 448;
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
            p->setToolTip(PatternToolTip(t.text));
            p->setCheckable(true);
            p->setAutoDefault(false);
            connect(p, &QPushButton::clicked, this, [this, id = t.nId] { emit command(id); });
            pControl = p;
            break;
        }
        case Kind::Button: {
            auto* p = new QPushButton(text, this);
            p->setToolTip(QStringLiteral("Swap red and blue: keeps the green sites and exchanges red and blue "
                                         "(RGGB and BGGR, GRBG and GBRG)"));
            p->setAccessibleName(QStringLiteral("Swap red and blue"));
            p->setAutoDefault(false);
            connect(p, &QPushButton::clicked, this, [this, id = t.nId] { emit command(id); });
            pControl = p;
            break;
        }
        case Kind::Combo: {
            // A drop-down with an edit field, not sorted. Text typed into the field is never
            // added to the list; only picking an entry counts as a change.
            auto* p = new CAlgorithmBox(this);
            p->setEditable(true);
            p->setInsertPolicy(QComboBox::NoInsert);
            p->setMaxVisibleItems(8);
            // activated, not currentIndexChanged: selecting by program raises no notification.
            connect(p, &QComboBox::activated, this, [this, p, id = t.nId] {
                emit command(id);
                if (p->TakeClosingPopup())
                    emit choiceMade();
            });
            // Enter picks the entry whose text was typed. Text that names no entry changes
            // nothing, so the field goes back to the entry in use once the user is done with
            // it, by Enter or by leaving it.
            connect(p->lineEdit(), &QLineEdit::returnPressed, this, [this, p, id = t.nId] {
                if (const int i = p->findText(p->lineEdit()->text(), Qt::MatchFixedString); i >= 0) {
                    p->setCurrentIndex(i);
                    emit command(id);
                }
                emit algorithmEditFinished();
                emit choiceMade();
            });
            connect(p->lineEdit(), &QLineEdit::editingFinished, this, [this] { emit algorithmEditFinished(); });
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

// The algorithm list's field says its editing is finished when it loses the focus as it goes.
CDisplayBar::~CDisplayBar() { DisconnectDescendants(*this); }

QWidget* CDisplayBar::GetDlgItem(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

QSize CDisplayBar::sizeHint() const { return m_size; }

void CDisplayBar::SetAvailableWidth(int nWidth)
{
    if (nWidth == m_nAvailableWidth)
        return;
    m_nAvailableWidth = nWidth;
    LayoutControls();
}

QString CDisplayBar::PatternToolTip(const char* button)
{
    const kestro::bayer::Pattern* p = kestro::bayer::patternFromButton(button);
    if (p == nullptr)
        return {};
    const QString s = QString::fromLatin1(p->sensorName);
    return QStringLiteral("%1: %2 %3 / %4 %5 \u2014 %6 sensors")
        .arg(QString::fromLatin1(p->button), QString(s[0]), QString(s[1]), QString(s[2]), QString(s[3]), s);
}

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
    std::map<const ControlTemplate*, QRect> rects;
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
        const int nNeeded = t->kind == Kind::Combo ? 0
                            : t->kind == Kind::Push || t->kind == Kind::Button
                                ? fm.horizontalAdvance(QString::fromUtf8(t->text)) + 12
                                : hint.width();
        const int nCx = std::max(px(t->cx), nNeeded);
        const int nCy = t->kind == Kind::Combo ? hint.height() : std::max(py(t->cy), hint.height());
        rects[t] = QRect(px(t->x) + nShift, (nHeight - nCy) / 2, nCx, nCy);
        nShift += nCx - px(t->cx);
    }
    m_size = QSize(px(kBarWidthDlu) + nShift, nHeight);
    std::array<QRect, kGroupCount> groups{};
    for (const auto& [t, r] : rects)
        groups[static_cast<std::size_t>(t->nGroup)] |= r;
    const int nMargin = px(kControls.front().x);
    int nWidest = 0;
    for (const QRect& g : groups)
        nWidest = std::max(nWidest, g.width());
    m_minSize = QSize(nWidest + 2 * nMargin, nHeight);

    if (m_nAvailableWidth > 0 && m_size.width() > m_nAvailableWidth) {
        // Too narrow for one row: each group keeps its inner spacing and moves to the start
        // of the next row when it would pass the edge.
        std::array<QPoint, kGroupCount> offsets{};
        int x = nMargin, nRow = 0, nRight = 0;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (x > nMargin && x + groups[g].width() > m_nAvailableWidth) {
                x = nMargin;
                ++nRow;
            }
            offsets[g] = QPoint(x - groups[g].left(), nRow * nHeight);
            x += groups[g].width() + nMargin;
            nRight = std::max(nRight, x);
        }
        for (auto& [t, r] : rects)
            r.translate(offsets[static_cast<std::size_t>(t->nGroup)]);
        m_size = QSize(nRight, (nRow + 1) * nHeight);
    }
    for (const auto& [t, r] : rects)
        m_controls.at(t->nId)->setGeometry(r);
    updateGeometry();
}

QWidget* DisplayBarControl(int nId)
{
    const CMainFrame* pFrame = CKestroApp::MainFrame();
    return pFrame ? pFrame->GetDisplayBar().GetDlgItem(nId) : nullptr;
}

int PatternButtonId(const kestro::bayer::Pattern& pattern)
{
    for (const ControlTemplate& t : kControls)
        if (t.kind == Kind::Push && std::string_view(t.text) == pattern.button)
            return t.nId;
    return ids::IDC_PATTERN_BG;
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
