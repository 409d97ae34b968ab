// Go to Frame (Ctrl+G): asks for the number of a frame of the open capture. The number is typed
// as text and checked on OK: what is not a whole number from the first frame to the last is
// refused, the dialog says why and which numbers there are, and it stays open for a correction.
#pragma once

#include "dialog_requests.h"
#include "error_label.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QDialogButtonBox;
class QLineEdit;

class CGoToFrameDlg : public QDialog {
    Q_OBJECT
public:
    // Proposes request.value; accepts request.minimum to request.maximum.
    explicit CGoToFrameDlg(const kestro::shell::NumberRequest& request, QWidget* pParent = nullptr);

    // The frame typed, as a whole number inside the range; nothing, with *pWhy saying why in
    // words, for anything else.
    static std::optional<std::int32_t> ParseFrame(const QString& text, std::int32_t nMinimum, std::int32_t nMaximum,
                                                  QString* pWhy = nullptr);

    // The frame chosen, once the dialog was accepted.
    std::int32_t GetFrame() const { return m_nFrame; }

    QLineEdit& GetNumberEdit() const { return *m_pNumber; }
    CErrorLabel& GetErrorLabel() const { return *m_pError; }

    void accept() override;

private:
    kestro::shell::NumberRequest m_request;
    std::int32_t m_nFrame = 0;
    QLineEdit* m_pNumber;
    CErrorLabel* m_pError;
    QDialogButtonBox* m_pButtons;
};
