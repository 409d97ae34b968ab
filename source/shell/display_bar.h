// The display bar: the controls that choose how the current frame is shown. Each control
// issues its number as a command when the user clicks it (or, for the algorithm list, picks an
// entry, the same one again included); the main frame routes the command to the document.
#pragma once

#include <QWidget>

#include <map>

class CDisplayBar : public QWidget {
    Q_OBJECT
public:
    explicit CDisplayBar(QWidget* pParent = nullptr);

    // The control with the given number, or null.
    QWidget* GetDlgItem(int nId) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void command(int nId);

protected:
    void changeEvent(QEvent* pEvent) override;

private:
    void LayoutControls();

    std::map<int, QWidget*> m_controls;
    QSize m_size;
};

// A control of the main frame's display bar, or null while there is no main frame.
QWidget* DisplayBarControl(int nId);

// Shows one pattern button pushed and the other three released.
void ShowPatternButton(int nId);
