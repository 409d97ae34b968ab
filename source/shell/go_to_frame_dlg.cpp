#include "go_to_frame_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QVBoxLayout>

CGoToFrameDlg::CGoToFrameDlg(const kestro::shell::NumberRequest& request, QWidget* pParent)
    : QDialog(pParent),
      m_request(request),
      m_pNumber(new QLineEdit(QString::number(request.value), this)),
      m_pError(new CErrorLabel(this)),
      m_pButtons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("goToFrameDialog"));
    setWindowTitle(QString::fromStdString(request.title));
    m_pNumber->setObjectName(QStringLiteral("frameNumber"));
    m_pError->setObjectName(QStringLiteral("frameError"));
    auto* pLabel = new QLabel(QString::fromStdString(request.label), this);
    pLabel->setBuddy(m_pNumber);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pLabel);
    pLayout->addWidget(m_pNumber);
    pLayout->addWidget(m_pError);
    pLayout->addWidget(m_pButtons);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &CGoToFrameDlg::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A correction starts afresh: the refusal goes once the text changes.
    connect(m_pNumber, &QLineEdit::textEdited, this, [this] { m_pError->SetError(QString()); });
    m_pNumber->selectAll();
}

std::optional<std::int32_t> CGoToFrameDlg::ParseFrame(const QString& text, std::int32_t nMinimum, std::int32_t nMaximum,
                                                      QString* pWhy)
{
    const QString range = QStringLiteral("type a whole number from %1 to %2").arg(nMinimum).arg(nMaximum);
    auto refuse = [&](const QString& why) -> std::optional<std::int32_t> {
        if (pWhy)
            *pWhy = why;
        return std::nullopt;
    };
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        return refuse(QStringLiteral("No frame number given; %1.").arg(range));
    // Digits only, with a sign at most: "1e1", "3.5" and "0x10" are not frame numbers, whatever
    // a number parser would make of them.
    static const QRegularExpression kWhole(QStringLiteral("^[+-]?[0-9]+$"));
    if (!kWhole.match(typed).hasMatch())
        return refuse(QStringLiteral("\"%1\" is not a frame number; %2.").arg(typed, range));
    bool bOk = false;
    const qlonglong n = typed.toLongLong(&bOk);
    if (!bOk || n < nMinimum || n > nMaximum)
        return refuse(QStringLiteral("There is no frame %1 in this capture; %2.").arg(typed, range));
    return static_cast<std::int32_t>(n);
}

void CGoToFrameDlg::accept()
{
    QString why;
    const std::optional<std::int32_t> n = ParseFrame(m_pNumber->text(), m_request.minimum, m_request.maximum, &why);
    if (!n) {
        m_pError->SetError(why);
        m_pNumber->setFocus();
        m_pNumber->selectAll();
        return;
    }
    m_nFrame = *n;
    QDialog::accept();
}
