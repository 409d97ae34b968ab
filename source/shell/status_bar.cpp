#include "status_bar.h"

#include "lock_keys.h"
#include "resource_ids.h"
#include "resource_strings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

namespace {

struct Indicator {
    int nId;
    const char* text;
};
constexpr std::array<Indicator, 3> kIndicators{
    Indicator{ids::ID_INDICATOR_CAPS, "CAP"},
    Indicator{ids::ID_INDICATOR_NUM, "NUM"},
    Indicator{ids::ID_INDICATOR_SCRL, "SCRL"},
};

} // namespace

// The frame pane: a line of text that changes at every step through a capture. A label would
// lay the status bar out again and measure its text anew each time; this pane only grows, and
// a new text is just painted.
class CFramePane : public QWidget {
public:
    explicit CFramePane(QWidget* pParent) : QWidget(pParent)
    {
        // It fills its own background, so the status bar is not drawn under it at each step.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAutoFillBackground(false);
    }
    const QString& text() const { return m_text; }
    void setText(const QString& text)
    {
        m_text = text;
        const int nWidth = fontMetrics().horizontalAdvance(m_text) + 2 * kMargin;
        if (nWidth > minimumWidth())
            setMinimumWidth(nWidth);
        update();
    }
    QSize sizeHint() const override { return {minimumWidth(), fontMetrics().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect().adjusted(kMargin, 0, -kMargin, 0), Qt::AlignLeft | Qt::AlignVCenter, m_text);
    }

private:
    static constexpr int kMargin = 2;
    QString m_text;
};

CStatusBar::CStatusBar(QWidget* pParent) : QStatusBar(pParent)
{
    setSizeGripEnabled(true);
    m_panes[0] = new QLabel(LoadResourceString(ids::AFX_IDS_IDLEMESSAGE), this);
    m_panes[0]->setObjectName(QStringLiteral("messagePane"));
    m_panes[0]->setMinimumWidth(1);
    addWidget(m_panes[0], 1);
    for (std::size_t i = 0; i < kIndicators.size(); ++i) {
        auto* pPane = new QLabel(this);
        pPane->setObjectName(QString::fromLatin1(kIndicators[i].text));
        pPane->setAlignment(Qt::AlignCenter);
        // Sized for its text, so the bar does not jump when a lock key changes.
        pPane->setFixedWidth(pPane->fontMetrics().horizontalAdvance(QString::fromLatin1(kIndicators[i].text)) + 8);
        addPermanentWidget(pPane);
        m_panes[i + 1] = pPane;
    }
    // Left of the indicators; it takes the room its text needs, the message pane the rest.
    m_pFramePane = new CFramePane(this);
    m_pFramePane->setObjectName(QStringLiteral("framePane"));
    insertPermanentWidget(1, m_pFramePane);
    // Between the message pane and the frame pane, and only while there is something to say:
    // the background scoring's progress, its end, or why it failed. The message pane is left to
    // the prompts and an export's progress bar.
    m_pScoringPane = new QLabel(this);
    m_pScoringPane->setObjectName(QStringLiteral("scoringPane"));
    m_pScoringPane->hide();
    insertPermanentWidget(1, m_pScoringPane);
    qApp->installEventFilter(this);
    UpdateIndicators();
}

// The application outlives the bar; its events must stop coming here before the bar is half
// destroyed.
CStatusBar::~CStatusBar() { qApp->removeEventFilter(this); }

QString CStatusBar::GetPaneText(int nPane) const
{
    const QLabel* p = GetPane(nPane);
    return p ? p->text() : QString();
}

void CStatusBar::SetPaneText(int nPane, const QString& text)
{
    if (QLabel* p = GetPane(nPane))
        p->setText(text);
}

QString CStatusBar::GetFrameText() const { return m_pFramePane->text(); }

void CStatusBar::SetFrameText(const QString& text)
{
    if (m_pFramePane->text() != text)
        m_pFramePane->setText(text);
}

QWidget* CStatusBar::GetFramePane() const { return m_pFramePane; }

QString CStatusBar::GetScoringText() const { return m_pScoringPane->text(); }

void CStatusBar::SetScoringText(const QString& text)
{
    m_pScoringPane->setText(text);
    // A reason can be long; the whole of it is in the tooltip.
    m_pScoringPane->setToolTip(text);
    m_pScoringPane->setVisible(!text.isEmpty());
}

QRect CStatusBar::GetItemRect(int nPane) const
{
    const QLabel* p = GetPane(nPane);
    return p ? p->geometry() : QRect();
}

QLabel* CStatusBar::GetPane(int nPane) const
{
    return nPane >= 0 && nPane < kPaneCount ? m_panes[static_cast<std::size_t>(nPane)] : nullptr;
}

void CStatusBar::UpdateIndicators()
{
    const LockKeys keys = QueryLockKeys().value_or(LockKeys{});
    const std::array<bool, 3> on{keys.bCaps, keys.bNum, keys.bScroll};
    for (std::size_t i = 0; i < kIndicators.size(); ++i)
        m_panes[i + 1]->setText(on[i] ? QString::fromLatin1(kIndicators[i].text) : QString());
}

bool CStatusBar::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // The lock state can change while another program has the keyboard, so it is read again
    // whenever the program becomes active, and after every lock key.
    if (pEvent->type() == QEvent::ApplicationActivate) {
        UpdateIndicators();
    } else if (pEvent->type() == QEvent::KeyRelease) {
        const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
        if (nKey == Qt::Key_CapsLock || nKey == Qt::Key_NumLock || nKey == Qt::Key_ScrollLock)
            UpdateIndicators();
    }
    return QStatusBar::eventFilter(pWatched, pEvent);
}
