// The display bar's handlers: what each control sets in the video source and the converter,
// which repaints erase, and that the controls reach the document whichever pane is active.
#include "shell_fixture.h"

#include "display_bar.h"
#include "frame_scoring.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

namespace {

const QList<int> kPatternButtons{ids::IDC_PATTERN_BG, ids::IDC_PATTERN_GB, ids::IDC_PATTERN_RG, ids::IDC_PATTERN_GR};

// Picks entry i of the algorithm list as the user does.
void Pick(ShellFixture& f, int i)
{
    QComboBox& list = f.algorithmList();
    list.setCurrentIndex(i);
    emit list.activated(i);
}

int IndexOfNumber(ShellFixture& f, int nNumber)
{
    const QStringList entries = f.algorithmEntries();
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].left(2).toInt() == nNumber)
            return i;
    }
    return -1;
}

} // namespace

class DisplayTest : public QObject {
    Q_OBJECT
private slots:
    void modeButtons_data();
    void modeButtons();
    void patternButtons_data();
    void patternButtons();
    void grayscaleFollowsTheBox();
    void algorithmSelection();
    void eraseOnlyAcrossAlgorithm11();
    void controlsReachTheDocumentFromEitherPane();
    void everyControlRepaintsTheView();
    void modeButtonsFollowARefusal_data();
    void modeButtonsFollowARefusal();
    void algorithmFieldShowsTheAlgorithmInUse();
    void mouseChoiceHandsTheKeyboardBack();
    void patternToolTips();
    void narrowWindowKeepsEveryControl();
    void closingWithTheAlgorithmFieldFocused();
};

void DisplayTest::modeButtons_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<bool>("bRaw");
    QTest::addColumn<bool>("bRawColour");
    QTest::newRow("RAW Y") << QList<int>{ids::IDC_DISPLAY_RAW_Y} << true << false;
    QTest::newRow("RAW colour") << QList<int>{ids::IDC_DISPLAY_RAW_COLOUR} << true << true;
    QTest::newRow("Normal after RAW colour keeps the colour flag")
        << QList<int>{ids::IDC_DISPLAY_RAW_COLOUR, ids::IDC_DISPLAY_NORMAL} << false << true;
    QTest::newRow("RAW Y clears it") << QList<int>{ids::IDC_DISPLAY_RAW_COLOUR, ids::IDC_DISPLAY_NORMAL,
                                                   ids::IDC_DISPLAY_RAW_Y}
                                     << true << false;
    QTest::newRow("RAW colour twice") << QList<int>{ids::IDC_DISPLAY_RAW_COLOUR, ids::IDC_DISPLAY_RAW_COLOUR} << true
                                      << true;
    QTest::newRow("Normal") << QList<int>{ids::IDC_DISPLAY_NORMAL} << false << false;
}

void DisplayTest::modeButtons()
{
    QFETCH(QList<int>, clicks);
    QFETCH(bool, bRaw);
    QFETCH(bool, bRawColour);
    ShellFixture f;
    f.start();
    for (int id : clicks)
        f.button(id).click();
    QCOMPARE(f.doc().m_videoSource.m_bRaw, bRaw);
    QCOMPARE(f.doc().m_videoSource.m_bRawColour, bRawColour);
    QVERIFY(f.button(clicks.back()).isChecked());
    // Nothing is open: the flags change, the view stays blank, and nobody is told anything.
    QVERIFY(f.messages().empty());
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), 0);
}

void DisplayTest::patternButtons_data()
{
    QTest::addColumn<int>("nButton");
    QTest::addColumn<int>("nPattern");
    QTest::newRow("BG") << ids::IDC_PATTERN_BG << 0;
    QTest::newRow("GB") << ids::IDC_PATTERN_GB << 1;
    QTest::newRow("GR") << ids::IDC_PATTERN_GR << 2;
    QTest::newRow("RG") << ids::IDC_PATTERN_RG << 3;
}

void DisplayTest::patternButtons()
{
    QFETCH(int, nButton);
    QFETCH(int, nPattern);
    ShellFixture f;
    f.start();
    // From every other pattern, and pressing the chosen one again keeps it pushed.
    for (int from : kPatternButtons) {
        f.button(from).click();
        f.button(nButton).click();
        f.button(nButton).click();
        QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), nPattern);
        for (int id : kPatternButtons)
            QCOMPARE(f.button(id).isChecked(), id == nButton);
    }
    QVERIFY(!f.doc().m_videoSource.m_bRaw);
}

void DisplayTest::grayscaleFollowsTheBox()
{
    ShellFixture f;
    f.start();
    QAbstractButton& box = f.button(ids::IDC_GRAYSCALE);
    box.click();
    QVERIFY(box.isChecked());
    QVERIFY(f.doc().m_videoSource.m_bGreyscale);
    box.click();
    QVERIFY(!f.doc().m_videoSource.m_bGreyscale);
    QVERIFY(!f.doc().m_videoSource.m_bRaw);
}

void DisplayTest::algorithmSelection()
{
    ShellFixture f;
    f.start();
    const int nVng = IndexOfNumber(f, 3);
    QVERIFY(nVng >= 0);
    Pick(f, nVng);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetAlgorithm(), 3);
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);

    // An entry that names no number leaves the algorithm as it was.
    f.algorithmList().addItem(QStringLiteral("Custom"));
    Pick(f, f.algorithmList().count() - 1);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetAlgorithm(), 3);
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);
    QVERIFY(f.messages().empty());

    // Selecting by program, as start-up and New do, raises no change.
    f.algorithmList().setCurrentIndex(IndexOfNumber(f, 11));
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);

    // The keyboard in the list picks the next entry.
    f.algorithmList().setCurrentIndex(nVng);
    QTest::keyClick(&f.algorithmList(), Qt::Key_Down);
    QCOMPARE(f.doc().m_nSelAlgorithm, f.algorithmList().currentText().left(2).toInt());
}

void DisplayTest::eraseOnlyAcrossAlgorithm11()
{
    ShellFixture f;
    f.start();
    CKestroView& view = *f.frame().GetFrameView();
    struct Step {
        int nNumber;
        bool bErase;
    };
    const Step steps[] = {{2, true}, {3, false}, {3, false}, {11, true}, {11, false}, {1, true}, {11, true}};
    for (const Step& s : steps) {
        QTest::qWait(0); // any earlier repaint done
        QVERIFY(!view.IsErasePending());
        Pick(f, IndexOfNumber(f, s.nNumber));
        QCOMPARE(f.doc().m_nSelAlgorithm, s.nNumber);
        QVERIFY2(view.IsErasePending() == s.bErase, qPrintable(QString::number(s.nNumber)));
        QTRY_VERIFY(!view.IsErasePending());
    }
}

void DisplayTest::controlsReachTheDocumentFromEitherPane()
{
    ShellFixture f;
    f.start();
    CMainFrame& frame = f.frame();
    QTest::keyClick(&frame, Qt::Key_F6);
    QCOMPARE(frame.GetActiveView(), frame.GetFrameView());
    QVERIFY(frame.GetFrameView()->hasFocus());

    // Real clicks, and the keyboard in the algorithm list.
    for (int id : {ids::IDC_DISPLAY_RAW_COLOUR, ids::IDC_PATTERN_GB, ids::IDC_GRAYSCALE})
        QTest::mouseClick(&f.button(id), Qt::LeftButton);
    QCOMPARE(frame.GetActiveView(), frame.GetFrameView());
    f.algorithmList().setFocus(Qt::MouseFocusReason);
    QCOMPARE(frame.GetActiveView(), frame.GetFrameView());
    Pick(f, IndexOfNumber(f, 2));
    QVERIFY(f.doc().m_videoSource.m_bRaw && f.doc().m_videoSource.m_bRawColour && f.doc().m_videoSource.m_bGreyscale);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), 1);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetAlgorithm(), 2);
    // Focus in the display bar does not change which pane is active.
    QCOMPARE(frame.GetActiveView(), frame.GetFrameView());

    QTest::keyClick(frame.GetFrameView(), Qt::Key_F6, Qt::ShiftModifier);
    QCOMPARE(frame.GetActiveView(), frame.GetFrameList());
    f.button(ids::IDC_DISPLAY_NORMAL).click();
    QVERIFY(!f.doc().m_videoSource.m_bRaw);
}

void DisplayTest::everyControlRepaintsTheView()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("paint.avi"), {"--frames", "2", "--dropped", ""});
    f.start();
    f.doc().OpenVideoFile(capture);
    PaintCounter counter(f.frame().GetFrameView());
    for (int id :
         {ids::IDC_DISPLAY_RAW_Y, ids::IDC_DISPLAY_RAW_COLOUR, ids::IDC_DISPLAY_NORMAL, ids::IDC_PATTERN_GB,
          ids::IDC_PATTERN_RG, ids::IDC_PATTERN_GR, ids::IDC_PATTERN_BG, ids::IDC_GRAYSCALE, ids::IDC_ALGORITHM}) {
        QTest::qWait(0);
        const int nBefore = counter.nPaints;
        if (id == ids::IDC_ALGORITHM)
            Pick(f, IndexOfNumber(f, 3));
        else
            QTest::mouseClick(&f.button(id), Qt::LeftButton);
        QTRY_VERIFY2(counter.nPaints > nBefore, qPrintable(QString::number(id)));
    }
    // The mouse left the keyboard with the frame list, so Down still steps through frames.
    f.frame().GetFrameList()->setFocus();
    f.frame().GetFrameList()->setCurrentIndex(f.frame().GetFrameList()->model()->index(0, 0));
    QTest::mouseClick(&f.button(ids::IDC_PATTERN_GB), Qt::LeftButton);
    QVERIFY(f.frame().GetFrameList()->hasFocus());
    QVERIFY(f.messages().empty());
}

void DisplayTest::modeButtonsFollowARefusal_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("nMode");
    // Normal: the refusal must have set the mode back; -1: whatever the video source did, the
    // buttons show it.
    QTest::addColumn<int>("nShown");
    QTest::newRow("width not a multiple of 4, RAW Y")
        << "width" << int(ids::IDC_DISPLAY_RAW_Y) << int(ids::IDC_DISPLAY_NORMAL);
    QTest::newRow("width not a multiple of 4, RAW colour")
        << "width" << int(ids::IDC_DISPLAY_RAW_COLOUR) << int(ids::IDC_DISPLAY_NORMAL);
    QTest::newRow("not 24 bit") << "bgra" << int(ids::IDC_DISPLAY_RAW_Y) << int(ids::IDC_DISPLAY_NORMAL);
    QTest::newRow("de-mosaic refusal") << "8x8" << int(ids::IDC_DISPLAY_RAW_COLOUR) << int(ids::IDC_DISPLAY_NORMAL);
    QTest::newRow("compressed") << "mjpeg" << int(ids::IDC_DISPLAY_RAW_Y) << -1;
}

void DisplayTest::modeButtonsFollowARefusal()
{
    QFETCH(QString, kind);
    QFETCH(int, nMode);
    QFETCH(int, nShown);
    ShellFixture f;
    QString capture;
    if (kind == QStringLiteral("width"))
        capture = f.sample(QStringLiteral("w322.avi"), {"--width", "322", "--height", "240", "--frames", "3"});
    else if (kind == QStringLiteral("8x8"))
        capture = f.sample(QStringLiteral("tiny.avi"), {"--width", "8", "--height", "8", "--frames", "2"});
    else
        capture = f.ffmpegCapture(kind + QStringLiteral(".avi"),
                                  {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10", "-frames:v", "3", "-c:v",
                                   kind == QStringLiteral("bgra") ? "rawvideo" : "mjpeg", "-pix_fmt",
                                   kind == QStringLiteral("bgra") ? "bgra" : "yuvj420p"});
    f.start();
    f.doc().OpenVideoFile(capture);
    if (kind == QStringLiteral("8x8")) {
        // The library's algorithms need more than 8 sites across.
        const int nLibrary = IndexOfNumber(f, 4);
        QVERIFY(nLibrary >= 0);
        Pick(f, nLibrary);
    }
    CKestroView& view = *f.frame().GetFrameView();
    QTest::mouseClick(&f.button(nMode), Qt::LeftButton);
    QVERIFY(f.button(nMode).isChecked());
    // The frame is rendered once the click has been handled; then several repaints, as a resize
    // would make, and renders of the same frame: told at most once.
    QTest::qWait(0);
    for (int i = 0; i < 3; ++i) {
        view.repaint();
        f.doc().SetCurrentFrame(0);
        QTest::qWait(0);
    }
    const CVideoSource& source = f.doc().m_videoSource;
    const int nInForce = !source.m_bRaw        ? ids::IDC_DISPLAY_NORMAL
                         : source.m_bRawColour ? ids::IDC_DISPLAY_RAW_COLOUR
                                               : ids::IDC_DISPLAY_RAW_Y;
    if (nShown >= 0) {
        QCOMPARE(nInForce, nShown);
        QCOMPARE(f.messages().size(), std::size_t(1));
    }
    for (int id : {ids::IDC_DISPLAY_NORMAL, ids::IDC_DISPLAY_RAW_Y, ids::IDC_DISPLAY_RAW_COLOUR})
        QVERIFY2(f.button(id).isChecked() == (id == nInForce), qPrintable(QString::number(id)));
    // The Quality column scores what is shown: the decoded picture once the mode fell back.
    QCOMPARE(f.frame().GetFrameList()->GetScoring().GetSource(), nInForce == ids::IDC_DISPLAY_NORMAL
                                                                     ? kestro::quality::ScoreSource::Decoded
                                                                     : kestro::quality::ScoreSource::SensorPlane);
    // The mode chosen again is tried again, and the user told again why it cannot be.
    if (nShown >= 0) {
        QTest::mouseClick(&f.button(nMode), Qt::LeftButton);
        QTRY_COMPARE(f.messages().size(), std::size_t(2));
        QCOMPARE(f.messages()[1], f.messages()[0]);
        QVERIFY(f.button(nShown).isChecked());
    }
}

void DisplayTest::algorithmFieldShowsTheAlgorithmInUse()
{
    ShellFixture f;
    f.start();
    QComboBox& box = f.algorithmList();
    const QString inUse = box.itemText(IndexOfNumber(f, 11));
    QCOMPARE(box.currentText(), inUse);

    // Text that names no entry, confirmed with Enter: the algorithm stays, and so does the
    // field's text of it.
    box.setFocus();
    box.lineEdit()->selectAll();
    QTest::keyClicks(box.lineEdit(), QStringLiteral("hello"));
    QCOMPARE(box.currentText(), QStringLiteral("hello"));
    QTest::keyClick(box.lineEdit(), Qt::Key_Return);
    QCOMPARE(f.doc().m_nSelAlgorithm, 11);
    QCOMPARE(box.currentText(), inUse);

    // Left without Enter: the same once the field loses the focus.
    box.setFocus();
    box.lineEdit()->selectAll();
    QTest::keyClicks(box.lineEdit(), QStringLiteral("xyz"));
    f.frame().GetFrameList()->setFocus();
    QTRY_COMPARE(box.currentText(), inUse);
    QCOMPARE(f.doc().m_nSelAlgorithm, 11);

    // The start of an entry is completed in the field, and leaving the field takes it; the
    // field and the algorithm agree either way.
    box.setFocus();
    box.lineEdit()->selectAll();
    QTest::keyClicks(box.lineEdit(), QStringLiteral("02"));
    f.frame().GetFrameList()->setFocus();
    QTRY_COMPARE(box.currentText(), box.itemText(IndexOfNumber(f, f.doc().m_nSelAlgorithm)));
    Pick(f, IndexOfNumber(f, 11));

    // An entry's full text typed and confirmed picks it.
    const QString vng = box.itemText(IndexOfNumber(f, 3));
    box.setFocus();
    box.lineEdit()->selectAll();
    QTest::keyClicks(box.lineEdit(), vng);
    QTest::keyClick(box.lineEdit(), Qt::Key_Return);
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);
    QCOMPARE(box.currentText(), vng);

    // An entry that names no number leaves the algorithm, and the field shows the one in use.
    box.addItem(QStringLiteral("Custom"));
    Pick(f, box.count() - 1);
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);
    QCOMPARE(box.currentText(), vng);
    QVERIFY(f.messages().empty());
}

void DisplayTest::mouseChoiceHandsTheKeyboardBack()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("steps.avi"),
                                     {"--width", "64", "--height", "48", "--frames", "5", "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = *f.frame().GetFrameList();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(f.doc().GetCurrentRow(), 1);

    // A click on the field's arrow takes the keyboard into the box; choosing an entry from its
    // list with the mouse hands it back to the frame list.
    QComboBox& box = f.algorithmList();
    box.setFocus(Qt::MouseFocusReason);
    box.showPopup();
    QAbstractItemView* pPopup = box.view();
    QTRY_VERIFY(pPopup->isVisible());
    const QModelIndex entry = box.model()->index(IndexOfNumber(f, 3), 0);
    pPopup->scrollTo(entry);
    const QPoint at = pPopup->visualRect(entry).center();
    QTest::mouseMove(pPopup->viewport(), at);
    QTest::mouseClick(pPopup->viewport(), Qt::LeftButton, {}, at);
    QTRY_VERIFY(!pPopup->isVisible());
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);
    QTRY_VERIFY(list.hasFocus());

    // So Down steps to the next frame, and the algorithm stays.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(f.doc().GetCurrentRow(), 2);
    QCOMPARE(f.doc().m_nSelAlgorithm, 3);

    // The arrows inside the box, with the keyboard there on purpose, go on choosing.
    box.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&box, Qt::Key_Down);
    QVERIFY(box.hasFocus());
    QCOMPARE(f.doc().m_nSelAlgorithm, box.currentText().left(2).toInt());
    QCOMPARE(f.doc().GetCurrentRow(), 2);
}

void DisplayTest::patternToolTips()
{
    ShellFixture f;
    f.start();
    const std::pair<int, const char*> tips[] = {
        {ids::IDC_PATTERN_BG, "BG: G R / B G \u2014 GRBG sensors"},
        {ids::IDC_PATTERN_GB, "GB: R G / G B \u2014 RGGB sensors"},
        {ids::IDC_PATTERN_GR, "GR: G B / R G \u2014 GBRG sensors"},
        {ids::IDC_PATTERN_RG, "RG: B G / G R \u2014 BGGR sensors"},
    };
    for (const auto& [nId, tip] : tips)
        QCOMPARE(f.button(nId).toolTip(), QString::fromUtf8(tip));
}

void DisplayTest::narrowWindowKeepsEveryControl()
{
    ShellFixture f;
    f.start();
    CMainFrame& frame = f.frame();
    const QList<int> controls{ids::IDC_DISPLAY_NORMAL, ids::IDC_DISPLAY_RAW_Y, ids::IDC_DISPLAY_RAW_COLOUR,
                              ids::IDC_PATTERN_BG,     ids::IDC_PATTERN_GB,    ids::IDC_PATTERN_RG,
                              ids::IDC_PATTERN_GR,     ids::IDC_SWAP_RED_BLUE, ids::IDC_ALGORITHM,
                              ids::IDC_GRAYSCALE};
    const auto allInSight = [&] {
        for (int id : controls) {
            QWidget* pControl = frame.GetDisplayBar().GetDlgItem(id);
            const QRect r(pControl->mapTo(&frame, QPoint()), pControl->size());
            if (!pControl->isVisible() || !frame.rect().contains(r))
                return false;
        }
        return true;
    };
    // Wide: one row, as always.
    QVERIFY(allInSight());
    const int nRow = frame.GetDisplayBar().GetDlgItem(ids::IDC_DISPLAY_NORMAL)->y();
    QCOMPARE(frame.GetDisplayBar().GetDlgItem(ids::IDC_GRAYSCALE)->geometry().center().y(),
             frame.GetDisplayBar().GetDlgItem(ids::IDC_DISPLAY_NORMAL)->geometry().center().y());

    // At 640 pixels the groups wrap, and every control stays in the window and usable.
    frame.resize(640, 480);
    QTRY_COMPARE(frame.width(), 640);
    QTRY_VERIFY(allInSight());
    QVERIFY(frame.GetDisplayBar().GetDlgItem(ids::IDC_GRAYSCALE)->y() > nRow);
    QTest::mouseClick(&f.button(ids::IDC_GRAYSCALE), Qt::LeftButton);
    QVERIFY(f.doc().m_videoSource.m_bGreyscale);

    // Wide again: one row again.
    frame.resize(1100, 700);
    QTRY_COMPARE(frame.GetDisplayBar().GetDlgItem(ids::IDC_GRAYSCALE)->geometry().center().y(),
                 frame.GetDisplayBar().GetDlgItem(ids::IDC_DISPLAY_NORMAL)->geometry().center().y());
}

// Destroyed while shown, as at the end of a run, the window closes from within QWidget's
// destructor and the algorithm field loses the focus, after the window's own part is gone: its
// handlers must no longer be reached then. What goes wrong otherwise is undefined behaviour, which
// the sanitizer build (scripts/sanitize) reports here.
void DisplayTest::closingWithTheAlgorithmFieldFocused()
{
    ShellFixture f;
    f.start();
    QComboBox& box = f.algorithmList();
    f.frame().activateWindow();
    box.setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(box.lineEdit()->hasFocus());
    f.restart();
    QCOMPARE(f.algorithmList().currentText(), f.algorithmList().itemText(IndexOfNumber(f, 11)));
    QVERIFY(f.messages().empty());
}

QTEST_MAIN(DisplayTest)
#include "display_test.moc"
