// Check best: how many of the sharpest frames to keep ticked ("10%" or "500") and among which
// frames (those ticked now, or all frames with data). The count is read as kestro-convert --best
// reads it; while the text is not a count, the dialog says why and OK stays grey.
#pragma once

#include "dialog_requests.h"
#include "error_label.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QRadioButton;

class CBestFramesDlg : public QDialog {
    Q_OBJECT
public:
    // Shows the request's count and choice; the numbers of ticked and scored frames label the
    // two choices.
    explicit CBestFramesDlg(const kestro::shell::BestFramesRequest& request, QWidget* pParent = nullptr);

    // The count as typed and the choice made.
    kestro::shell::BestFramesRequest GetAnswer() const;

    QLineEdit& GetCountEdit() const { return *m_pCount; }
    QRadioButton& GetTickedChoice() const { return *m_pTicked; }
    QRadioButton& GetAllChoice() const { return *m_pAll; }
    QLabel& GetErrorLabel() const { return *m_pError; }
    QDialogButtonBox& GetButtons() const { return *m_pButtons; }

private:
    void OnCountChanged();

    kestro::shell::BestFramesRequest m_request;
    QLineEdit* m_pCount;
    QRadioButton* m_pTicked;
    QRadioButton* m_pAll;
    CErrorLabel* m_pError;
    QDialogButtonBox* m_pButtons;
};
