// The display bar: the controls that choose how the current frame is shown. Each control
// issues its number as a command when the user clicks it (or, for the algorithm list, picks an
// entry, the same one again included); the main frame routes the command to the document.
//
// The controls stand on one row when the window is wide enough; in a narrower one their groups
// (modes, patterns, algorithm, greyscale) wrap onto further rows.
#pragma once

#include "bayer_pattern.h"

#include <QWidget>

#include <map>

class CDisplayBar : public QWidget {
    Q_OBJECT
public:
    explicit CDisplayBar(QWidget* pParent = nullptr);
    ~CDisplayBar() override;

    // The control with the given number, or null.
    QWidget* GetDlgItem(int nId) const;

    QSize sizeHint() const override;
    // As narrow as the widest group, on rows of their own.
    QSize minimumSizeHint() const override { return m_minSize; }
    // The width the bar may take; 0 or less: as wide as one row needs.
    void SetAvailableWidth(int nWidth);

    // The tooltip of a pattern button: its 2 x 2 order and the sensors it suits.
    static QString PatternToolTip(const char* button);

signals:
    void command(int nId);
    // An algorithm was picked from the drop-down list or confirmed with Enter.
    void choiceMade();
    // The algorithm list's field was left or confirmed; it should show the algorithm in use.
    void algorithmEditFinished();

protected:
    void changeEvent(QEvent* pEvent) override;

private:
    void LayoutControls();

    std::map<int, QWidget*> m_controls;
    QSize m_size;
    QSize m_minSize;
    int m_nAvailableWidth = 0;
};

// A control of the main frame's display bar, or null while there is no main frame.
QWidget* DisplayBarControl(int nId);

// The number of the pattern button that chooses this pattern.
int PatternButtonId(const kestro::bayer::Pattern& pattern);

// Shows one pattern button pushed and the other three released.
void ShowPatternButton(int nId);
