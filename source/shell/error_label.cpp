#include "error_label.h"

#include <QLayout>

CErrorLabel::CErrorLabel(QWidget* pParent) : QLabel(pParent)
{
    setWordWrap(true);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, QColor(0xb0, 0x20, 0x20));
    setPalette(colours);
    hide();
}

void CErrorLabel::SetError(const QString& text)
{
    setText(text);
    setVisible(!text.isEmpty());
    // Before the dialog is shown, showing it sizes it for its contents, these lines included.
    QWidget* pWindow = window();
    if (pWindow == this || !pWindow->isVisible() || pWindow->layout() == nullptr)
        return;
    pWindow->layout()->activate();
    const int nNeeded = pWindow->layout()->totalHeightForWidth(pWindow->width());
    if (nNeeded > pWindow->height())
        pWindow->resize(pWindow->width(), nNeeded);
}
