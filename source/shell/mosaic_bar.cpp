#include "mosaic_bar.h"

#include "display_bar.h"
#include "kestro_doc.h"
#include "mosaic_detection.h"
#include "resource_ids.h"
#include "teardown.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QToolButton>

using kestro::shell::DisplayMode;
using kestro::shell::MosaicAdvice;
using kestro::shell::MosaicAdviceInput;
using kestro::shell::MosaicCase;

namespace {

constexpr const char* kSection = "Bayer Order Advice";
constexpr const char* kQuietKey = "Quiet Captures";

// The key a capture is remembered by: the same file by whatever relative name it was opened.
QString CaptureKey(const std::string& path) { return QFileInfo(QString::fromStdString(path)).absoluteFilePath(); }

QStringList QuietCaptures()
{
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(kSection));
    return settings.value(QString::fromLatin1(kQuietKey)).toStringList();
}

void AddQuietCapture(const QString& path)
{
    QStringList quiet = QuietCaptures();
    quiet.removeAll(path);
    quiet.prepend(path);
    // Captures of old nights give way to new ones, so the store stays small however many files
    // a user silences over the years.
    while (quiet.size() > CMosaicBar::kQuietCaptures)
        quiet.removeLast();
    QSettings settings;
    settings.beginGroup(QString::fromLatin1(kSection));
    settings.setValue(QString::fromLatin1(kQuietKey), quiet);
}

QPushButton* MakeButton(const QString& text, const QString& toolTip, QWidget* pParent)
{
    auto* p = new QPushButton(text, pParent);
    p->setToolTip(toolTip);
    p->setAutoDefault(false);
    // A click leaves the keyboard with the frame list, so Space and the arrows go on working
    // there; Tab still reaches the button.
    p->setFocusPolicy(Qt::TabFocus);
    return p;
}

} // namespace

CMosaicBar::CMosaicBar(CKestroDoc& doc, QWidget* pParent)
    : QFrame(pParent),
      m_doc(doc),
      m_pDetection(new CMosaicDetection(
          [this](const std::string& path, const kestro::video::MosaicGuess& guess) { OnAnswer(path, guess); }, this))
{
    setObjectName(QStringLiteral("mosaicBar"));
    setFrameShape(QFrame::StyledPanel);
    // The colours of a tooltip: a note beside the picture, not part of it.
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::ToolTipBase));
    pal.setColor(QPalette::WindowText, pal.color(QPalette::ToolTipText));
    setPalette(pal);

    m_pText = new QLabel(this);
    m_pText->setObjectName(QStringLiteral("mosaicText"));
    m_pText->setWordWrap(true);
    m_pText->setTextFormat(Qt::PlainText);
    m_pAction = MakeButton(QString(), QString(), this);
    m_pAction->setObjectName(QStringLiteral("mosaicAction"));
    m_pQuiet = MakeButton(QStringLiteral("Don't ask for this capture"),
                          QStringLiteral("Hides this note and never shows it again for this file"), this);
    m_pQuiet->setObjectName(QStringLiteral("mosaicQuiet"));
    m_pClose = new QToolButton(this);
    m_pClose->setObjectName(QStringLiteral("mosaicClose"));
    m_pClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_pClose->setAutoRaise(true);
    m_pClose->setToolTip(QStringLiteral("Hides this note until the capture is opened again"));
    m_pClose->setFocusPolicy(Qt::TabFocus);

    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(6, 2, 2, 2);
    pLayout->addWidget(m_pText, 1);
    pLayout->addWidget(m_pAction);
    pLayout->addWidget(m_pQuiet);
    pLayout->addWidget(m_pClose);

    connect(m_pAction, &QPushButton::clicked, this, &CMosaicBar::OnAction);
    connect(m_pQuiet, &QPushButton::clicked, this, &CMosaicBar::OnQuiet);
    connect(m_pClose, &QToolButton::clicked, this, [this] {
        Dismiss();
        emit choiceMade();
    });
    hide();
}

// The detection's thread is stopped and waited for by its own destructor, among the children;
// the buttons are cut off first, as they may still emit while they go.
CMosaicBar::~CMosaicBar() { DisconnectDescendants(*this); }

bool CMosaicBar::IsQuiet(const QString& path) { return QuietCaptures().contains(path); }

QString CMosaicBar::GetText() const { return m_pText->text(); }

void CMosaicBar::CaptureOpened()
{
    m_pDetection->Stop();
    Dismiss();
    m_guess.reset();
    m_bOpeningJudged = false;
    m_bPatternTold = false;
    const CVideoSource& source = m_doc.m_videoSource;
    m_strPath = source.IsOpen() ? source.GetFileName() : std::string();
    if (m_strPath.empty() || IsQuiet(CaptureKey(m_strPath)))
        return;
    m_pDetection->Start(m_strPath, source.GetByteOrderChoice());
}

MosaicAdviceInput CMosaicBar::InputInForce() const
{
    const CVideoSource& source = m_doc.m_videoSource;
    MosaicAdviceInput in;
    in.guess = m_guess.value_or(kestro::video::MosaicGuess{});
    if (const std::optional<std::int32_t> nHeader = source.GetHeaderPattern())
        in.header = &kestro::bayer::patternFromCode(*nHeader);
    in.colorId = source.GetColorIdName();
    in.mode = !source.m_bRaw ? DisplayMode::Normal : source.m_bRawColour ? DisplayMode::RawColour : DisplayMode::RawY;
    in.inForce = &kestro::bayer::patternFromCode(source.m_converter.GetPattern());
    in.bOpeningJudged = m_bOpeningJudged;
    in.bPatternTold = m_bPatternTold;
    return in;
}

void CMosaicBar::OnAnswer(const std::string& path, const kestro::video::MosaicGuess& guess)
{
    // An answer about a file that is no longer on show says nothing about the one that is.
    if (path != m_strPath || !m_doc.m_videoSource.IsOpen() || m_doc.m_videoSource.GetFileName() != path)
        return;
    m_guess = guess;
    const MosaicAdvice advice = kestro::shell::ChooseMosaicAdvice(InputInForce());
    m_bOpeningJudged = true;
    if (advice.which != MosaicCase::None)
        Show(advice);
}

void CMosaicBar::SettingsChanged()
{
    if (!m_guess)
        return;
    MosaicAdviceInput in = InputInForce();
    if (m_advice.which != MosaicCase::None) {
        // The advice on show is judged again as when it was given: it stays, with its words
        // brought up to date, while it still holds, and goes once the user has acted on it.
        in.bOpeningJudged = m_advice.which == MosaicCase::PatternContradicted;
        in.bPatternTold = false;
        const MosaicAdvice now = kestro::shell::ChooseMosaicAdvice(in);
        if (now.which == m_advice.which) {
            Show(now);
            return;
        }
        Dismiss();
        in = InputInForce();
    }
    const MosaicAdvice advice = kestro::shell::ChooseMosaicAdvice(in);
    if (advice.which != MosaicCase::None)
        Show(advice);
}

void CMosaicBar::Show(const MosaicAdvice& advice)
{
    m_advice = advice;
    if (advice.which == MosaicCase::PatternContradicted)
        m_bPatternTold = true;
    m_pText->setText(QString::fromStdString(advice.text));
    m_pAction->setText(QString::fromStdString(advice.buttonText));
    m_pAction->setToolTip(QString::fromStdString(advice.buttonToolTip));
    show();
}

void CMosaicBar::Dismiss()
{
    m_advice = MosaicAdvice{};
    // A button the user reached with Tab would hand the keyboard to whatever follows it.
    if (isAncestorOf(QApplication::focusWidget()))
        emit choiceMade();
    hide();
}

void CMosaicBar::OnAction()
{
    const MosaicAdvice advice = m_advice;
    Dismiss();
    if (advice.offer == nullptr)
        return;
    // The pattern first: RAW colour chosen before it would show, for a moment, the very pattern
    // the advice is about.
    emit command(PatternButtonId(*advice.offer));
    if (advice.bSwitchToRawColour) {
        emit command(ids::IDC_DISPLAY_RAW_COLOUR);
        // A click on the mode button checks it; a command from here checks it now too, not
        // only when the picture has been rendered.
        m_doc.ShowDisplayModeInForce();
    }
    emit choiceMade();
}

void CMosaicBar::OnQuiet()
{
    if (!m_strPath.empty())
        AddQuietCapture(CaptureKey(m_strPath));
    Dismiss();
    // Nothing more is said about this capture, in this opening either.
    m_guess.reset();
    emit choiceMade();
}
