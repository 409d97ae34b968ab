// The slim bar above the picture that says what the data show about a capture's Bayer order and
// offers the fix in one click: RAW colour with the order found, or the order found in place of
// one the file or the user chose that puts the green sites where the data have red and blue.
//
// It is advice and nothing else: no setting changes until the user clicks, nothing waits for the
// detector, and the bar never takes the keyboard from the pane the user works in. Each capture
// opening gets at most one piece of advice when the answer arrives, and one more, later, should
// the user choose RAW colour with a pattern the data contradict. "Don't ask for this capture"
// silences the bar for that file in later runs as well.
#pragma once

#include "mosaic_advice.h"

#include <QFrame>
#include <QString>

#include <optional>
#include <string>

class CKestroDoc;
class CMosaicDetection;
class QLabel;
class QPushButton;
class QToolButton;

class CMosaicBar : public QFrame {
    Q_OBJECT
public:
    // The captures whose advice the user turned off, newest first; at most this many are kept.
    static constexpr int kQuietCaptures = 200;

    explicit CMosaicBar(CKestroDoc& doc, QWidget* pParent = nullptr);
    ~CMosaicBar() override;

    // The document opened a capture, or opened one again (a byte order chosen, say): whatever the
    // bar said goes, and the detector looks at the capture now on show. With none open the bar
    // stays hidden.
    void CaptureOpened();
    // The display mode or the pattern changed: advice that no longer holds goes, and a pattern
    // the data contradict in RAW colour is told, once per capture.
    void SettingsChanged();

    // What the bar shows; MosaicCase::None while hidden.
    const kestro::shell::MosaicAdvice& GetAdvice() const { return m_advice; }
    CMosaicDetection& GetDetection() const { return *m_pDetection; }
    QString GetText() const;
    QPushButton& GetActionButton() const { return *m_pAction; }
    QPushButton& GetQuietButton() const { return *m_pQuiet; }
    QToolButton& GetCloseButton() const { return *m_pClose; }

    // Whether the user turned the advice off for this capture (an absolute path), in this run or
    // an earlier one.
    static bool IsQuiet(const QString& path);

signals:
    // A command for the main frame's routing, as the display bar's controls issue them.
    void command(int nId);
    // A button was used; the keyboard goes back to the pane the user works in.
    void choiceMade();

private:
    void OnAnswer(const std::string& path, const kestro::video::MosaicGuess& guess);
    void Show(const kestro::shell::MosaicAdvice& advice);
    void Dismiss();
    void OnAction();
    void OnQuiet();
    kestro::shell::MosaicAdviceInput InputInForce() const;

    CKestroDoc& m_doc;
    CMosaicDetection* m_pDetection = nullptr;
    QLabel* m_pText = nullptr;
    QPushButton* m_pAction = nullptr;
    QPushButton* m_pQuiet = nullptr;
    QToolButton* m_pClose = nullptr;

    // The capture the detector looked at, as the document names it, and its answer.
    std::string m_strPath;
    std::optional<kestro::video::MosaicGuess> m_guess;
    bool m_bOpeningJudged = false;
    bool m_bPatternTold = false;
    kestro::shell::MosaicAdvice m_advice;
};
