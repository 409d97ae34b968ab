// The display bar's handlers: what each control sets in the video source and the converter,
// which repaints erase, and that the controls reach the document whichever pane is active.
#include "shell_fixture.h"

#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QAbstractButton>
#include <QComboBox>
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
    void algorithmNumberOfEntries_data();
    void algorithmNumberOfEntries();
    void algorithmSelection();
    void eraseOnlyAcrossAlgorithm11();
    void controlsReachTheDocumentFromEitherPane();
    void everyControlRepaintsTheView();
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

void DisplayTest::algorithmNumberOfEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("nNumber"); // -1000: no number
    QTest::newRow("own") << "11-DeBayerToRGB" << 11;
    QTest::newRow("leading zero") << "03-VNG" << 3;
    QTest::newRow("two digits only") << "42" << 42;
    QTest::newRow("letters") << "AHD" << -1000;
    QTest::newRow("digit then letter") << "4a-Odd" << -1000;
    QTest::newRow("space first") << " 4-Odd" << -1000;
    QTest::newRow("empty") << "" << -1000;
}

void DisplayTest::algorithmNumberOfEntries()
{
    QFETCH(QString, entry);
    QFETCH(int, nNumber);
    QCOMPARE(CKestroDoc::AlgorithmNumberOf(entry).value_or(-1000), nNumber);
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

QTEST_MAIN(DisplayTest)
#include "display_test.moc"
