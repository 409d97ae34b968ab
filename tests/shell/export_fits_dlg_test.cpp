// The Export Fits Frames dialog driven as a user would: the block size it proposes and
// remembers, the texts it takes and refuses (one message per OK, the box ready for a new try),
// the folder picked with "...", its layout and tab order, and the FITS seam that runs it.
#include "export_fits_dlg.h"
#include "qt_seams.h"
#include "resource_ids.h"

#include "dialog_requests.h"
#include "message_box.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <vector>

using kestro::shell::FitsExportRequest;
using kestro::shell::FolderRequest;

Q_DECLARE_METATYPE(std::optional<std::string>)

namespace {

const QString kSentence = QStringLiteral("Sum AVI frames in blocks of               and save as FITS");
const std::string kBrowseTitle = "Select folder where FITS files shall be stored:";

// One dialog on the screen, proposing the folder and prefix the command would for
// /videos/m42.avi, with its messages recorded and its folder picker answered by a script.
class OpenDialog {
public:
    explicit OpenDialog(std::uint32_t nBlockSize = 0)
    {
        if (nBlockSize != 0)
            dlg.m_nBlockSize = nBlockSize;
        dlg.m_strFolder = QStringLiteral("/videos/");
        dlg.m_strPrefix = QStringLiteral("m42");
        dlg.show();
        bActive = QTest::qWaitForWindowActive(&dlg);
    }

    QLineEdit& edit(int nId) const { return *static_cast<QLineEdit*>(dlg.GetDlgItem(nId)); }
    QPushButton& button(int nId) const { return *static_cast<QPushButton*>(dlg.GetDlgItem(nId)); }

    // Replaces a box's text the way a user would: select it all and type over it. A tab cannot be
    // typed into a box (it moves on), so text with one is pasted.
    void type(int nId, const QString& text) const
    {
        QLineEdit& box = edit(nId);
        box.setFocus(Qt::MouseFocusReason);
        box.selectAll();
        if (text.contains(u'\t')) {
            box.insert(text);
        } else {
            QTest::keyClick(&box, Qt::Key_Delete);
            QTest::keyClicks(&box, text);
        }
    }
    void click(int nId) const { QTest::mouseClick(&button(nId), Qt::LeftButton); }

    kestro::ui::MessageRecorder messages;
    kestro::shell::DialogScript dialogs;
    CExportFitsDlg dlg;
    bool bActive = false;
};

const kestro::ui::Message kRefused{"Please enter a positive integer.", "Kestro", kestro::ui::Icon::Warning,
                                   kestro::ui::Buttons::Ok};

} // namespace

class ExportFitsDlgTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void blockSizeIsRememberedAfterOkOnly();
    void acceptedBlockSizes_data();
    void acceptedBlockSizes();
    void refusedBlockSizes_data();
    void refusedBlockSizes();
    void browseAfterARefusedSizeShowsTheLastValidOne();
    void browsedFolder_data();
    void browsedFolder();
    void layoutFollowsTheTemplateInAnyFont();
    void startsOnOkAndTabsInTemplateOrder();
    void theFitsSeamRunsTheDialog();
};

void ExportFitsDlgTest::initTestCase()
{
    // The first dialog of a run proposes blocks of one frame.
    QCOMPARE(g_nLastBlockSize, std::uint32_t(1));
}

void ExportFitsDlgTest::init() { g_nLastBlockSize = 1; }

void ExportFitsDlgTest::blockSizeIsRememberedAfterOkOnly()
{
    {
        OpenDialog d;
        QCOMPARE(d.edit(ids::IDC_BLOCK_SIZE).text(), QStringLiteral("1"));
        d.type(ids::IDC_BLOCK_SIZE, QStringLiteral("5"));
        d.click(ids::IDOK);
        QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
    }
    for (int nClose : {int(ids::IDCANCEL), int(Qt::Key_Escape)}) {
        OpenDialog d;
        QCOMPARE(d.edit(ids::IDC_BLOCK_SIZE).text(), QStringLiteral("5"));
        d.type(ids::IDC_BLOCK_SIZE, QStringLiteral("9"));
        if (nClose == Qt::Key_Escape)
            QTest::keyClick(&d.edit(ids::IDC_BLOCK_SIZE), Qt::Key_Escape);
        else
            d.click(nClose);
        QVERIFY(!d.dlg.isVisible());
        QCOMPARE(d.dlg.result(), int(QDialog::Rejected));
        QCOMPARE(g_nLastBlockSize, std::uint32_t(5));
    }
    OpenDialog d;
    QCOMPARE(d.edit(ids::IDC_BLOCK_SIZE).text(), QStringLiteral("5"));
    QVERIFY(d.messages.messages().empty());
}

void ExportFitsDlgTest::acceptedBlockSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::uint32_t>("nBlockSize");
    QTest::newRow("plain") << QStringLiteral("12") << std::uint32_t(12);
    QTest::newRow("blanks around") << QStringLiteral(" 12 ") << std::uint32_t(12);
    QTest::newRow("tabs around") << QStringLiteral("\t 12\t") << std::uint32_t(12);
    QTest::newRow("leading zeros") << QStringLiteral("007") << std::uint32_t(7);
    QTest::newRow("largest") << QStringLiteral("4294967295") << std::uint32_t(4294967295u);
    QTest::newRow("one above the largest") << QStringLiteral("4294967296") << std::uint32_t(4294967295u);
    QTest::newRow("far too large") << QStringLiteral("123456789012345678901234567890") << std::uint32_t(4294967295u);
    QTest::newRow("only 31 characters count")
        << QStringLiteral("12") + QString(29, u' ') + QStringLiteral("x") << std::uint32_t(12);
}

void ExportFitsDlgTest::acceptedBlockSizes()
{
    QFETCH(QString, text);
    QFETCH(std::uint32_t, nBlockSize);
    OpenDialog d;
    d.type(ids::IDC_BLOCK_SIZE, text);
    d.type(ids::IDC_PREFIX, QStringLiteral("m42.lum"));
    d.type(ids::IDC_FOLDER, QStringLiteral("/data/fits"));
    d.click(ids::IDOK);
    QVERIFY(d.messages.messages().empty());
    QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
    QCOMPARE(d.dlg.m_nBlockSize, nBlockSize);
    QCOMPARE(g_nLastBlockSize, nBlockSize);
    QCOMPARE(d.dlg.m_strPrefix, QStringLiteral("m42.lum"));
    QCOMPARE(d.dlg.m_strFolder, QStringLiteral("/data/fits/"));
}

void ExportFitsDlgTest::refusedBlockSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("letter after") << QStringLiteral("12a");
    QTest::newRow("minus") << QStringLiteral("-3");
    QTest::newRow("plus") << QStringLiteral("+3");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks only") << QStringLiteral("   ");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("zeros between blanks") << QStringLiteral(" 000 ");
    QTest::newRow("two numbers") << QStringLiteral("1 2");
    QTest::newRow("hexadecimal") << QStringLiteral("0x10");
}

void ExportFitsDlgTest::refusedBlockSizes()
{
    QFETCH(QString, text);
    OpenDialog d(7);
    QVERIFY(d.bActive);
    d.type(ids::IDC_FOLDER, QStringLiteral("/elsewhere/"));
    d.type(ids::IDC_BLOCK_SIZE, text);
    for (std::size_t nPress = 1; nPress <= 2; ++nPress) {
        d.click(ids::IDOK);
        QCOMPARE(d.messages.messages(), std::vector<kestro::ui::Message>(nPress, kRefused));
        QVERIFY(d.dlg.isVisible());
        QCOMPARE(QApplication::focusWidget(), &d.edit(ids::IDC_BLOCK_SIZE));
        QCOMPARE(d.edit(ids::IDC_BLOCK_SIZE).selectedText(), text);
        QCOMPARE(d.edit(ids::IDC_BLOCK_SIZE).text(), text);
    }
    // The reading stopped at the block size: nothing was taken from the boxes.
    QCOMPARE(d.dlg.m_nBlockSize, std::uint32_t(7));
    QCOMPARE(d.dlg.m_strFolder, QStringLiteral("/videos/"));
    QCOMPARE(g_nLastBlockSize, std::uint32_t(1));

    // Typing a number over the selection is all it takes to go on.
    QTest::keyClicks(&d.edit(ids::IDC_BLOCK_SIZE), QStringLiteral("3"));
    d.click(ids::IDOK);
    QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
    QCOMPARE(g_nLastBlockSize, std::uint32_t(3));
    QCOMPARE(d.messages.messages().size(), std::size_t(2));
}

void ExportFitsDlgTest::browseAfterARefusedSizeShowsTheLastValidOne()
{
    OpenDialog d(7);
    d.dialogs.answer("/data/fits");
    d.type(ids::IDC_BLOCK_SIZE, QStringLiteral("x"));
    d.click(ids::IDC_BROWSE_FOLDER);
    QCOMPARE(d.messages.messages(), std::vector<kestro::ui::Message>{kRefused});
    QCOMPARE(d.dialogs.folderRequests(), (std::vector<FolderRequest>{{kBrowseTitle, "/videos/"}}));
    QCOMPARE(d.edit(ids::IDC_BLOCK_SIZE).text(), QStringLiteral("7"));
    QCOMPARE(d.edit(ids::IDC_FOLDER).text(), QStringLiteral("/data/fits"));
    QCOMPARE(d.edit(ids::IDC_PREFIX).text(), QStringLiteral("m42"));
    d.click(ids::IDOK);
    QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
    QCOMPARE(d.messages.messages().size(), std::size_t(1));
}

void ExportFitsDlgTest::browsedFolder_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<std::optional<std::string>>("picked");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("handedBack");
    QTest::newRow("a folder") << QString() << std::optional<std::string>("/data/fits") << QStringLiteral("/data/fits")
                              << QStringLiteral("/data/fits/");
    QTest::newRow("the root") << QString() << std::optional<std::string>("/") << QStringLiteral("/")
                              << QStringLiteral("/");
    QTest::newRow("cancelled") << QString() << std::optional<std::string>() << QStringLiteral("/videos/")
                               << QStringLiteral("/videos/");
    QTest::newRow("typed, then cancelled") << QStringLiteral("/typed") << std::optional<std::string>()
                                           << QStringLiteral("/typed") << QStringLiteral("/typed/");
}

void ExportFitsDlgTest::browsedFolder()
{
    QFETCH(QString, typed);
    QFETCH(std::optional<std::string>, picked);
    QFETCH(QString, shown);
    QFETCH(QString, handedBack);
    OpenDialog d;
    d.dialogs.answer(picked);
    d.type(ids::IDC_PREFIX, QStringLiteral("jupiter"));
    if (!typed.isEmpty())
        d.type(ids::IDC_FOLDER, typed);
    d.click(ids::IDC_BROWSE_FOLDER);
    // The picker starts from what the folder box said.
    const std::string start = typed.isEmpty() ? "/videos/" : typed.toStdString();
    QCOMPARE(d.dialogs.folderRequests(), (std::vector<FolderRequest>{{kBrowseTitle, start}}));
    QCOMPARE(d.edit(ids::IDC_FOLDER).text(), shown);
    QCOMPARE(d.edit(ids::IDC_PREFIX).text(), QStringLiteral("jupiter"));
    QVERIFY(d.dlg.isVisible());
    d.click(ids::IDOK);
    QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
    QCOMPARE(d.dlg.m_strFolder, handedBack);
    QCOMPARE(d.dlg.m_strPrefix, QStringLiteral("jupiter"));
    QVERIFY(d.messages.messages().empty());
}

void ExportFitsDlgTest::layoutFollowsTheTemplateInAnyFont()
{
    // The desktop's font, and one whose blanks are too narrow to hold the block-size box.
    QFont narrowBlanks = QApplication::font();
    narrowBlanks.setWordSpacing(-3);
    for (const QFont& font : {QApplication::font(), narrowBlanks}) {
        OpenDialog d;
        d.dlg.setFont(font);
        QCOMPARE(d.dlg.windowTitle(), QStringLiteral("Export Fits Frames"));

        QStringList texts;
        for (const QLabel* pLabel : d.dlg.findChildren<QLabel*>())
            texts << pLabel->text();
        for (const QPushButton* pButton : d.dlg.findChildren<QPushButton*>())
            texts << pButton->text();
        for (const QGroupBox* pGroup : d.dlg.findChildren<QGroupBox*>())
            texts << pGroup->title();
        texts.sort();
        QStringList expected{kSentence,
                             QStringLiteral("OK"),
                             QStringLiteral("Cancel"),
                             QStringLiteral("Fits file creation"),
                             QStringLiteral("Prefix:"),
                             QStringLiteral("Folder:"),
                             QStringLiteral("..."),
                             QStringLiteral("Only checked frames will contribute")};
        expected.sort();
        QCOMPARE(texts, expected);
        QVERIFY(d.button(ids::IDOK).isDefault());

        // The block-size box sits in the sentence's run of blanks, clear of the words either side,
        // and on the sentence's line.
        const QLabel* pSentence = nullptr;
        for (const QLabel* pLabel : d.dlg.findChildren<QLabel*>())
            pSentence = pLabel->text() == kSentence ? pLabel : pSentence;
        QVERIFY(pSentence != nullptr);
        const QFontMetricsF fm(pSentence->font());
        const QString before = QStringLiteral("Sum AVI frames in blocks of");
        const qreal rWordsEnd = pSentence->x() + fm.horizontalAdvance(before);
        const qreal rWordsStart = pSentence->x() + fm.horizontalAdvance(kSentence.left(kSentence.indexOf("and")));
        const QRect box = d.edit(ids::IDC_BLOCK_SIZE).geometry();
        QVERIFY2(box.left() > rWordsEnd && box.right() < rWordsStart,
                 qPrintable(QStringLiteral("box %1..%2, blanks %3..%4")
                                .arg(box.left())
                                .arg(box.right())
                                .arg(rWordsEnd)
                                .arg(rWordsStart)));
        QVERIFY(box.top() < pSentence->geometry().center().y() && box.bottom() > pSentence->geometry().center().y());
        QVERIFY(box.width() >= fm.horizontalAdvance(QStringLiteral("000")));

        // Everything inside the dialog; the boxes of the group inside its frame, below its title;
        // nothing else overlapping.
        const QRect client = d.dlg.rect();
        const QGroupBox* pGroup = d.dlg.findChild<QGroupBox*>();
        std::vector<const QWidget*> controls;
        for (const QWidget* pChild : d.dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(client.contains(pChild->geometry()));
            if (pChild != pGroup)
                controls.push_back(pChild);
        }
        for (int nId : {ids::IDC_PREFIX, ids::IDC_FOLDER, ids::IDC_BROWSE_FOLDER}) {
            const QRect r = d.dlg.GetDlgItem(nId)->geometry();
            QVERIFY(pGroup->geometry().contains(r));
            QVERIFY(r.top() > pGroup->y() + QFontMetrics(font).height());
        }
        for (std::size_t i = 0; i < controls.size(); ++i) {
            for (std::size_t j = i + 1; j < controls.size(); ++j) {
                const bool bSentenceAndBox =
                    (controls[i] == pSentence || controls[j] == pSentence) &&
                    (controls[i] == &d.edit(ids::IDC_BLOCK_SIZE) || controls[j] == &d.edit(ids::IDC_BLOCK_SIZE));
                if (!bSentenceAndBox)
                    QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                             qPrintable(controls[i]->objectName() + " " + controls[j]->objectName()));
            }
        }
    }
}

void ExportFitsDlgTest::startsOnOkAndTabsInTemplateOrder()
{
    OpenDialog d;
    QVERIFY(d.bActive);
    QCOMPARE(QApplication::focusWidget(), d.dlg.GetDlgItem(ids::IDOK));
    QList<QWidget*> order;
    for (int i = 0; i < 6; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget();
    }
    QCOMPARE(order, (QList<QWidget*>{d.dlg.GetDlgItem(ids::IDCANCEL), d.dlg.GetDlgItem(ids::IDC_BLOCK_SIZE),
                                     d.dlg.GetDlgItem(ids::IDC_PREFIX), d.dlg.GetDlgItem(ids::IDC_FOLDER),
                                     d.dlg.GetDlgItem(ids::IDC_BROWSE_FOLDER), d.dlg.GetDlgItem(ids::IDOK)}));
}

void ExportFitsDlgTest::theFitsSeamRunsTheDialog()
{
    kestro::ui::MessageRecorder messages;
    const kestro::shell::FitsExportSeam::Override showing(kestro::shell::fitsExportSeam(), ShowExportFitsDialog);
    const FitsExportRequest proposed{3, "m42", "/videos/"};
    std::vector<std::optional<FitsExportRequest>> answers;
    for (bool bOk : {true, false}) {
        QStringList shown;
        QTimer::singleShot(0, [&shown, bOk] {
            auto* pDlg = qobject_cast<CExportFitsDlg*>(QApplication::activeModalWidget());
            if (pDlg == nullptr)
                return;
            for (int nId : {ids::IDC_BLOCK_SIZE, ids::IDC_PREFIX, ids::IDC_FOLDER})
                shown << static_cast<QLineEdit*>(pDlg->GetDlgItem(nId))->text();
            static_cast<QLineEdit*>(pDlg->GetDlgItem(ids::IDC_BLOCK_SIZE))->setText(QStringLiteral("8"));
            static_cast<QLineEdit*>(pDlg->GetDlgItem(ids::IDC_FOLDER))->setText(QStringLiteral("/out"));
            QTest::mouseClick(static_cast<QPushButton*>(pDlg->GetDlgItem(bOk ? ids::IDOK : ids::IDCANCEL)),
                              Qt::LeftButton);
            if (pDlg->isVisible())
                pDlg->reject();
        });
        answers.push_back(kestro::shell::askForFitsExport(proposed));
        QCOMPARE(shown, (QStringList{"3", "m42", "/videos/"}));
    }
    QCOMPARE(answers[0], std::optional<FitsExportRequest>(FitsExportRequest{8, "m42", "/out/"}));
    QVERIFY(!answers[1].has_value());
    QCOMPARE(g_nLastBlockSize, std::uint32_t(8));
    QVERIFY(messages.messages().empty());
}

QTEST_MAIN(ExportFitsDlgTest)
#include "export_fits_dlg_test.moc"
