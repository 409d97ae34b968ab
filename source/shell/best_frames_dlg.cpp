#include "best_frames_dlg.h"

#include "best_frames.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CBestFramesDlg::CBestFramesDlg(const kestro::shell::BestFramesRequest& request, QWidget* pParent)
    : QDialog(pParent),
      m_request(request),
      m_pCount(new QLineEdit(this)),
      m_pTicked(new QRadioButton(tr("of the frames &ticked now (%1)").arg(request.ticked), this)),
      m_pAll(new QRadioButton(tr("of &all frames with data (%1)").arg(request.scored), this)),
      m_pError(new CErrorLabel(this)),
      m_pButtons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("checkBestDialog"));
    setWindowTitle(tr("Check best"));
    m_pCount->setObjectName(QStringLiteral("count"));
    m_pCount->setText(QString::fromStdString(request.count));
    m_pCount->setPlaceholderText(tr("10% or 500"));
    m_pCount->setToolTip(tr("A share of the frames, such as 10% or 2.5%, or a number of frames, such as 500"));
    m_pTicked->setChecked(request.tickedOnly);
    m_pAll->setChecked(!request.tickedOnly);
    m_pError->setObjectName(QStringLiteral("countError"));

    auto* pForm = new QFormLayout;
    pForm->addRow(tr("Keep the &best:"), m_pCount);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(m_pTicked);
    pLayout->addWidget(m_pAll);
    pLayout->addWidget(m_pError);
    pLayout->addWidget(new QLabel(tr("The others are unticked. Edit \u25b8 Undo puts the ticks back."), this));
    pLayout->addWidget(m_pButtons);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pCount, &QLineEdit::textChanged, this, &CBestFramesDlg::OnCountChanged);
    OnCountChanged();
    m_pCount->selectAll();
}

void CBestFramesDlg::OnCountChanged()
{
    std::string error;
    const bool bValid = kestro::quality::BestCount::Parse(m_pCount->text().trimmed().toStdString(), &error).has_value();
    m_pError->SetError(bValid ? QString() : QString::fromStdString(error));
    m_pButtons->button(QDialogButtonBox::Ok)->setEnabled(bValid);
}

kestro::shell::BestFramesRequest CBestFramesDlg::GetAnswer() const
{
    kestro::shell::BestFramesRequest answer = m_request;
    answer.count = m_pCount->text().trimmed().toStdString();
    answer.tickedOnly = m_pTicked->isChecked();
    return answer;
}
