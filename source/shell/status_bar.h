// The status bar: the message pane (stretching; prompts while a command is hovered, "Ready"
// when idle, and the home of an export's progress bar), then the CAP, NUM and SCRL
// indicators, each showing its text while its lock key is on. Between the two stands the
// frame pane: the current frame and what the capture is ("Frame 12 of 300 · 640×480 · ..."),
// while frames are being scored or after, the scoring pane, and for a damaged capture the
// capture pane. While an export runs, a Cancel button stands right of the message pane, beside
// the export's progress bar. No text widens the window:
// a text longer than its pane's room is cut short and whole in the pane's tooltip.
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <array>

class QAbstractButton;

// A pane of text that never widens the window: when the window is too narrow for the text, it
// is cut short with an ellipsis and shown whole in the tooltip.
class CStatusPane : public QLabel {
    Q_OBJECT
public:
    explicit CStatusPane(const QString& text, QWidget* pParent = nullptr);
    // Use this rather than setText, so the tooltip follows.
    void SetText(const QString& text);
    // Asks for no more room than this many characters take, whatever the text, so the frame
    // pane beside it keeps its room (0: as much as the text takes).
    void SetPreferredChars(int nChars);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void UpdateToolTip();

    int m_nPreferredChars = 0;
};

class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPaneCount = 4;

    explicit CStatusBar(QWidget* pParent = nullptr);
    ~CStatusBar() override;

    int GetPaneCount() const { return kPaneCount; }
    QString GetPaneText(int nPane) const;
    void SetPaneText(int nPane, const QString& text);
    // The pane's rectangle in the status bar's coordinates; an empty one for an unknown pane.
    QRect GetItemRect(int nPane) const;
    // The pane's widget, for placing a control inside it.
    QLabel* GetPane(int nPane) const;

    QString GetFrameText() const;
    void SetFrameText(const QString& text);
    QWidget* GetFramePane() const;

    // The scoring pane, left of the frame pane: the background scoring's progress or outcome;
    // hidden while empty.
    QString GetScoringText() const;
    void SetScoringText(const QString& text);

    // The capture pane, left of the scoring pane: what is wrong with the capture as a whole (a
    // file that ends early); hidden while empty.
    QString GetCaptureNote() const;
    void SetCaptureNote(const QString& text);

    // Reads the lock keys again and shows or blanks the indicators.
    void UpdateIndicators();

    // The button that stops the running export; shown only while one runs.
    QAbstractButton* GetCancelButton() const;
    void ShowCancelButton(bool bShow);

    // How long the message pane says what a command did.
    static constexpr int kResultMsec = 8000;
    // Says in the message pane what a command did (the files an export wrote) for a few
    // seconds, then "Ready" again unless something else is said there by then.
    void ShowResult(const QString& text, int nMsec = kResultMsec);
    void ClearResult();
    // What the message pane says when nothing else is to be said (no menu item under the
    // pointer): the result while it is shown, else "Ready".
    QString GetIdleText() const;

signals:
    // The Cancel button was pressed.
    void cancelClicked();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    std::array<QLabel*, kPaneCount> m_panes{};
    class CFramePane* m_pFramePane = nullptr;
    CStatusPane* m_pScoringPane = nullptr;
    CStatusPane* m_pCapturePane = nullptr;
    QAbstractButton* m_pCancelButton = nullptr;
    QString m_strResult;
    QTimer m_resultTimer;
};
