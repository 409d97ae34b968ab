// The red line under a field of a dialog that says why its text is refused. It shows whole:
// the dialog grows to the height its wrapped lines need, since a window's layout does not
// follow the height a word-wrapped label needs for its width by itself.
#pragma once

#include <QLabel>

class CErrorLabel : public QLabel {
    Q_OBJECT
public:
    explicit CErrorLabel(QWidget* pParent = nullptr);

    // Shows the text, or hides the line when it is empty.
    void SetError(const QString& text);
};
