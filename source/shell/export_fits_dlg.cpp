#include "export_fits_dlg.h"

#include "dialog_requests.h"
#include "message_box.h"
#include "resource_ids.h"
#include "resource_strings.h"

#include <QEvent>
#include <QShowEvent>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

std::uint32_t g_nLastBlockSize = 1;

namespace {

enum class Kind { DefaultButton, Button, Text, Edit, Group };

struct ControlTemplate {
    int nId; // 0 for the texts and the group box, which nobody addresses
    Kind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
};

constexpr const char* kSentence = "Sum AVI frames in blocks of               and save as FITS";

// In template order, which is also the tab order of the controls that take the focus.
constexpr std::array kControls{
    ControlTemplate{ids::IDOK, Kind::DefaultButton, "OK", 117, 98, 50, 14},
    ControlTemplate{ids::IDCANCEL, Kind::Button, "Cancel", 176, 98, 50, 14},
    ControlTemplate{0, Kind::Text, kSentence, 2, 19, 175, 8},
    ControlTemplate{ids::IDC_BLOCK_SIZE, Kind::Edit, "", 95, 17, 21, 14},
    ControlTemplate{0, Kind::Group, "Fits file creation", 2, 32, 224, 56},
    ControlTemplate{ids::IDC_PREFIX, Kind::Edit, "", 35, 49, 168, 14},
    ControlTemplate{0, Kind::Text, "Prefix:", 8, 52, 20, 8},
    ControlTemplate{ids::IDC_FOLDER, Kind::Edit, "", 35, 66, 168, 14},
    ControlTemplate{ids::IDC_BROWSE_FOLDER, Kind::Button, "...", 208, 65, 16, 14},
    ControlTemplate{0, Kind::Text, "Folder:", 8, 69, 22, 8},
    ControlTemplate{0, Kind::Text, "Only checked frames will contribute", 2, 3, 112, 8},
};
constexpr std::size_t kSentenceIndex = 2;
constexpr std::size_t kBlockSizeIndex = 3;
constexpr int kWidthDlu = 230;
constexpr int kHeightDlu = 117;

// Only so much of the box is looked at; what follows cannot make a number wrong or right.
constexpr qsizetype kBlockSizeChars = 31;

// An unsigned decimal number between blanks and tabs; a sign or anything else refuses the
// text. Numbers too large for 32 bits mean "as many as there can be".
std::optional<std::uint32_t> ParseBlockSize(const QString& box)
{
    const QString text = box.left(kBlockSizeChars);
    const auto isBlank = [&text](qsizetype i) { return text[i] == u' ' || text[i] == u'\t'; };
    qsizetype i = 0;
    while (i < text.size() && isBlank(i))
        ++i;
    const qsizetype firstDigit = i;
    std::uint64_t nValue = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        nValue = std::min<std::uint64_t>(nValue * 10 + (text[i].unicode() - u'0'), UINT32_MAX);
    if (i == firstDigit)
        return std::nullopt;
    while (i < text.size() && isBlank(i))
        ++i;
    if (i != text.size())
        return std::nullopt;
    return static_cast<std::uint32_t>(nValue);
}

} // namespace

CExportFitsDlg::CExportFitsDlg(QWidget* pParent) : QDialog(pParent), m_nBlockSize(g_nLastBlockSize)
{
    setObjectName(QStringLiteral("exportFitsDialog"));
    setWindowTitle(QStringLiteral("Export Fits Frames"));

    // Created in template order: the focus chain follows creation, and the group box, made
    // before the boxes it frames, stays beneath them.
    for (const ControlTemplate& t : kControls) {
        const QString text = QString::fromUtf8(t.text);
        QWidget* pControl = nullptr;
        switch (t.kind) {
        case Kind::DefaultButton:
        case Kind::Button: {
            auto* p = new QPushButton(text, this);
            p->setDefault(t.kind == Kind::DefaultButton);
            pControl = p;
            break;
        }
        case Kind::Text: {
            auto* p = new QLabel(text, this);
            p->setTextFormat(Qt::PlainText); // keeps the run of blanks the block size sits in
            pControl = p;
            break;
        }
        case Kind::Edit: pControl = new QLineEdit(this); break;
        case Kind::Group: pControl = new QGroupBox(text, this); break;
        }
        if (t.nId != 0) {
            pControl->setObjectName(QStringLiteral("control%1").arg(t.nId));
            m_controls.emplace(t.nId, pControl);
        }
        m_template.push_back(pControl);
    }
    connect(static_cast<QPushButton*>(GetDlgItem(ids::IDOK)), &QPushButton::clicked, this, &CExportFitsDlg::OnOK);
    connect(static_cast<QPushButton*>(GetDlgItem(ids::IDCANCEL)), &QPushButton::clicked, this, &QDialog::reject);
    connect(static_cast<QPushButton*>(GetDlgItem(ids::IDC_BROWSE_FOLDER)), &QPushButton::clicked, this,
            &CExportFitsDlg::OnBrowseFolder);
    LayoutControls();
}

QWidget* CExportFitsDlg::GetDlgItem(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

bool CExportFitsDlg::UpdateData(bool bSaveAndValidate)
{
    auto* pBlockSize = static_cast<QLineEdit*>(GetDlgItem(ids::IDC_BLOCK_SIZE));
    auto* pFolder = static_cast<QLineEdit*>(GetDlgItem(ids::IDC_FOLDER));
    auto* pPrefix = static_cast<QLineEdit*>(GetDlgItem(ids::IDC_PREFIX));
    if (!bSaveAndValidate) {
        pBlockSize->setText(QString::number(m_nBlockSize));
        pFolder->setText(m_strFolder);
        pPrefix->setText(m_strPrefix);
        return true;
    }
    // Each file is the sum of a block of frames, so a block of none is refused like any other
    // text that is not a count.
    const std::optional<std::uint32_t> nBlockSize = ParseBlockSize(pBlockSize->text());
    if (!nBlockSize || *nBlockSize == 0) {
        kestro::ui::showMessage("Please enter a positive integer.",
                                LoadResourceString(ids::AFX_IDS_APP_TITLE).toStdString(), kestro::ui::Icon::Warning);
        pBlockSize->setFocus(Qt::OtherFocusReason);
        pBlockSize->selectAll();
        return false;
    }
    m_nBlockSize = *nBlockSize;
    m_strFolder = pFolder->text();
    m_strPrefix = pPrefix->text();
    return true;
}

void CExportFitsDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    g_nLastBlockSize = m_nBlockSize;
    // The caller puts the prefix straight after the folder; without the separator the folder's
    // last name would become the start of every file name, one level up.
    if (!m_strFolder.isEmpty() && !m_strFolder.endsWith(u'/'))
        m_strFolder += u'/';
    QDialog::accept();
}

void CExportFitsDlg::OnBrowseFolder()
{
    // Whether the boxes read does not matter: a refused block size has been told, and the
    // picker opens at the folder last read all the same.
    UpdateData(true);
    kestro::shell::FolderRequest request;
    request.title = "Select folder where FITS files shall be stored:";
    request.startFolder = m_strFolder.toStdString();
    if (const std::optional<std::string> folder = kestro::shell::askForFolder(request))
        m_strFolder = QString::fromStdString(*folder);
    // Every box shows its member again, so a refused block size gives way to the one in force.
    UpdateData(false);
}

void CExportFitsDlg::OnInitDialog()
{
    UpdateData(false);
    GetDlgItem(ids::IDOK)->setFocus(Qt::OtherFocusReason);
}

void CExportFitsDlg::showEvent(QShowEvent* pEvent)
{
    // Shown by the program (each run of the dialog), not the window system giving it back.
    if (!pEvent->spontaneous())
        OnInitDialog();
    QDialog::showEvent(pEvent);
}

void CExportFitsDlg::changeEvent(QEvent* pEvent)
{
    QDialog::changeEvent(pEvent);
    if (pEvent->type() == QEvent::FontChange || pEvent->type() == QEvent::StyleChange)
        LayoutControls();
}

// Dialog units in this desktop's font. They are measured on the letters of the alphabet rather
// than on the font's own average width, which counts the narrow digits and punctuation and comes
// out too small for the words of a dialog.
struct CExportFitsDlg::DialogUnits {
    explicit DialogUnits(const QFontMetrics& fm)
    {
        const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        nBaseX = std::max(1, (fm.horizontalAdvance(alphabet) / 26 + 1) / 2);
        nBaseY = std::max(1, fm.height());
    }
    int px(int dlu) const { return dlu * nBaseX / 4; }
    int py(int dlu) const { return dlu * nBaseY / 8; }

    int nBaseX = 1;
    int nBaseY = 1;
};

namespace {

// Where the longest run of blanks in a text starts, and how many blanks it holds (the first
// such run when several are as long).
std::pair<qsizetype, qsizetype> LongestBlankRun(const QString& text)
{
    qsizetype nRunStart = 0;
    qsizetype nRunLength = 0;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype j = i;
        while (j < text.size() && text[j] == u' ')
            ++j;
        if (j - i > nRunLength) {
            nRunStart = i;
            nRunLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    return {nRunStart, nRunLength};
}

} // namespace

// Places the controls from their dialog-unit rectangles in this desktop's font, and sizes the
// dialog to hold them all.
void CExportFitsDlg::LayoutControls()
{
    const DialogUnits units{QFontMetrics(font())};
    // The sentence is placed first: the box's place is worked out from where it stands.
    QRect used = PlaceTemplateControls(units);
    used |= PlaceBlockSizeInSentence(units);
    setFixedSize(std::max(units.px(kWidthDlu), used.right() + 1 + units.px(2)),
                 std::max(units.py(kHeightDlu), used.bottom() + 1 + units.py(2)));
}

// Every control but the block-size box. A control whose text or frame needs more room than its
// rectangle grows (centred on the rectangle's height). Returns the area they cover.
QRect CExportFitsDlg::PlaceTemplateControls(const DialogUnits& units)
{
    const QFontMetrics fm(font());
    QRect used;
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        const ControlTemplate& t = kControls[i];
        QWidget* pControl = m_template[i];
        if (i == kBlockSizeIndex)
            continue;
        QRect r(units.px(t.x), units.py(t.y), units.px(t.cx), units.py(t.cy));
        if (t.kind != Kind::Group) {
            const QSize hint = pControl->sizeHint();
            const int nNeeded = t.kind == Kind::Edit   ? 0
                                : t.kind == Kind::Text ? hint.width()
                                                       : fm.horizontalAdvance(QString::fromUtf8(t.text)) + 12;
            const int nCy = std::max(r.height(), hint.height());
            r = QRect(r.x(), r.y() + (r.height() - nCy) / 2, std::max(r.width(), nNeeded), nCy);
        }
        pControl->setGeometry(r);
        used |= r;
    }
    return used;
}

// The block-size box goes in the run of blanks of its sentence, wherever this font puts them, so
// the line reads as one sentence with the number in it: in the middle of the longest run, a
// blank's width clear of the words on either side. Where this font's blanks are too narrow for
// that, the sentence's word spacing is widened until they are not. Returns the area the sentence
// and the box cover.
QRect CExportFitsDlg::PlaceBlockSizeInSentence(const DialogUnits& units)
{
    auto* pSentence = static_cast<QLabel*>(m_template[kSentenceIndex]);
    auto* pBox = m_template[kBlockSizeIndex];
    const QString sentence = QString::fromUtf8(kSentence);
    const auto [nRunStart, nRunLength] = LongestBlankRun(sentence);
    const int nBoxCx = units.px(kControls[kBlockSizeIndex].cx);
    const auto run = [&](const QFont& f) {
        const QFontMetricsF m(f);
        return std::pair{m.horizontalAdvance(sentence.left(nRunStart)),
                         m.horizontalAdvance(sentence.left(nRunStart + nRunLength))};
    };
    // Only the word spacing is the sentence's own; everything else follows the dialog's font.
    pSentence->setFont(QFont());
    const qreal rGap = QFontMetricsF(font()).horizontalAdvance(u' ');
    auto [rStart, rEnd] = run(font());
    if (rEnd - rStart < nBoxCx + 2 * rGap) {
        QFont wider;
        wider.setWordSpacing(font().wordSpacing() + std::ceil((nBoxCx + 2 * rGap - (rEnd - rStart)) / nRunLength));
        pSentence->setFont(wider);
        std::tie(rStart, rEnd) = run(pSentence->font());
    }
    const QRect sentenceRect(pSentence->x(), pSentence->y(), pSentence->sizeHint().width(), pSentence->height());
    pSentence->setGeometry(sentenceRect);
    const int nBoxCy = std::max(units.py(kControls[kBlockSizeIndex].cy), pBox->sizeHint().height());
    const int nBoxX = sentenceRect.x() + pSentence->contentsMargins().left() +
                      static_cast<int>(std::lround((rStart + rEnd - nBoxCx) / 2));
    const QRect boxRect(nBoxX, sentenceRect.center().y() - nBoxCy / 2, nBoxCx, nBoxCy);
    pBox->setGeometry(boxRect);
    return sentenceRect | boxRect;
}
