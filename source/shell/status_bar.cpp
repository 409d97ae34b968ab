#include "status_bar.h"

#include "lock_keys.h"
#include "resource_ids.h"
#include "resource_strings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

#include <algorithm>

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

namespace {

// Whatever the text, no pane may widen the window: a pane takes the room its text needs when
// the window has it, and down to this little when it has not, its text then cut short with an
// ellipsis and whole in its tooltip.
// The scoring and capture panes say in this many characters what they have to say at all (a
// failure's reason can be longer; it is in the tooltip), and leave the frame pane its room.
constexpr int kNoteChars = 48;

int MinimumPaneWidth(const QFontMetrics& fm) { return fm.horizontalAdvance(QStringLiteral("\u2026")) + 8; }

QString FitText(const QFontMetrics& fm, const QString& text, int nWidth)
{
    // Measured as the panes measure their room, in whole pixels: a text of exactly the room's
    // width is not cut for a fraction of a pixel.
    if (fm.horizontalAdvance(text) <= nWidth)
        return text;
    return fm.elidedText(text, Qt::ElideRight, std::max(nWidth, 0));
}

} // namespace

CStatusPane::CStatusPane(const QString& text, QWidget* pParent) : QLabel(text, pParent) {}

void CStatusPane::SetText(const QString& text)
{
    setText(text);
    UpdateToolTip();
}

void CStatusPane::SetPreferredChars(int nChars)
{
    m_nPreferredChars = nChars;
    updateGeometry();
}

QSize CStatusPane::sizeHint() const
{
    QSize hint = QLabel::sizeHint();
    if (m_nPreferredChars > 0)
        hint.setWidth(std::min(hint.width(), m_nPreferredChars * fontMetrics().averageCharWidth()));
    return hint;
}

QSize CStatusPane::minimumSizeHint() const
{
    return {MinimumPaneWidth(fontMetrics()), QLabel::minimumSizeHint().height()};
}

void CStatusPane::resizeEvent(QResizeEvent* pEvent)
{
    QLabel::resizeEvent(pEvent);
    UpdateToolTip();
}

void CStatusPane::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, static_cast<int>(alignment()), FitText(fontMetrics(), text(), area.width()));
}

void CStatusPane::UpdateToolTip()
{
    const int nRoom = contentsRect().width() - 2 * margin();
    setToolTip(fontMetrics().horizontalAdvance(text()) > nRoom ? text() : QString());
}

// The frame pane: a line of text that changes at every step through a capture. A label would
// lay the status bar out again and measure its text anew each time; this pane asks for other
// room only when a text needs more than it had, or far less, and a new text is just painted.
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
        // A few characters less (frame 10 after frame 9, no "(dropped)") keep the room; a text
        // much shorter gives it back.
        const int nWidth = fontMetrics().horizontalAdvance(m_text) + 2 * kMargin;
        if (nWidth > m_nWidth || nWidth < m_nWidth * 3 / 4) {
            m_nWidth = nWidth;
            updateGeometry();
        }
        UpdateToolTip();
        update();
    }
    QSize sizeHint() const override { return {m_nWidth, fontMetrics().height()}; }
    QSize minimumSizeHint() const override { return {MinimumPaneWidth(fontMetrics()), fontMetrics().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect area = rect().adjusted(kMargin, 0, -kMargin, 0);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, FitText(fontMetrics(), m_text, area.width()));
    }
    void resizeEvent(QResizeEvent*) override { UpdateToolTip(); }

private:
    void UpdateToolTip()
    {
        const bool bCut = fontMetrics().horizontalAdvance(m_text) > width() - 2 * kMargin;
        if (bCut != !toolTip().isEmpty() || (bCut && toolTip() != m_text))
            setToolTip(bCut ? m_text : QString());
    }

    static constexpr int kMargin = 2;
    QString m_text;
    int m_nWidth = 0;
};

CStatusBar::CStatusBar(QWidget* pParent) : QStatusBar(pParent)
{
    setSizeGripEnabled(true);
    m_panes[0] = new CStatusPane(LoadResourceString(ids::AFX_IDS_IDLEMESSAGE), this);
    m_panes[0]->setObjectName(QStringLiteral("messagePane"));
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
    m_pScoringPane = new CStatusPane(QString(), this);
    m_pScoringPane->setObjectName(QStringLiteral("scoringPane"));
    m_pScoringPane->SetPreferredChars(kNoteChars);
    m_pScoringPane->hide();
    insertPermanentWidget(1, m_pScoringPane);
    // Left of that, while the capture on show has something wrong with it as a whole.
    m_pCapturePane = new CStatusPane(QString(), this);
    m_pCapturePane->setObjectName(QStringLiteral("capturePane"));
    m_pCapturePane->SetPreferredChars(kNoteChars);
    m_pCapturePane->hide();
    insertPermanentWidget(1, m_pCapturePane);
    // Right after the message pane, so that it stands beside the progress bar laid over that
    // pane. A tool button keeps to the height of the panes' text: the bar does not grow when it
    // shows.
    auto* pCancel = new QToolButton(this);
    pCancel->setObjectName(QStringLiteral("cancelExport"));
    pCancel->setText(QStringLiteral("Cancel"));
    pCancel->setToolTip(QStringLiteral("Stop the export (Esc)"));
    pCancel->setToolButtonStyle(Qt::ToolButtonTextOnly);
    pCancel->setFocusPolicy(Qt::NoFocus);
    pCancel->setMaximumHeight(m_panes[0]->sizeHint().height() + 4);
    pCancel->hide();
    connect(pCancel, &QToolButton::clicked, this, &CStatusBar::cancelClicked);
    insertPermanentWidget(1, pCancel);
    m_pCancelButton = pCancel;
    m_resultTimer.setSingleShot(true);
    connect(&m_resultTimer, &QTimer::timeout, this, [this] {
        if (GetPaneText(0) == m_strResult)
            SetPaneText(0, LoadResourceString(ids::AFX_IDS_IDLEMESSAGE));
        m_strResult.clear();
    });
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
    if (nPane == 0)
        static_cast<CStatusPane*>(m_panes[0])->SetText(text);
    else if (QLabel* p = GetPane(nPane))
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
    m_pScoringPane->SetText(text);
    m_pScoringPane->setVisible(!text.isEmpty());
}

QString CStatusBar::GetCaptureNote() const { return m_pCapturePane->text(); }

void CStatusBar::SetCaptureNote(const QString& text)
{
    m_pCapturePane->SetText(text);
    m_pCapturePane->setVisible(!text.isEmpty());
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

QAbstractButton* CStatusBar::GetCancelButton() const { return m_pCancelButton; }

void CStatusBar::ShowCancelButton(bool bShow)
{
    m_pCancelButton->setEnabled(bShow);
    m_pCancelButton->setVisible(bShow);
}

void CStatusBar::ShowResult(const QString& text, int nMsec)
{
    m_strResult = text;
    SetPaneText(0, text.isEmpty() ? LoadResourceString(ids::AFX_IDS_IDLEMESSAGE) : text);
    if (text.isEmpty())
        m_resultTimer.stop();
    else
        m_resultTimer.start(nMsec);
}

void CStatusBar::ClearResult()
{
    m_strResult.clear();
    m_resultTimer.stop();
}

QString CStatusBar::GetIdleText() const
{
    return m_strResult.isEmpty() ? LoadResourceString(ids::AFX_IDS_IDLEMESSAGE) : m_strResult;
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
