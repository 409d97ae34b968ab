// The frame list: filling it from a capture, the collection of ticked frames, clicks and keys
// choosing the current frame (and the picture shown), Go to Frame, and the pop-up menu that
// ticks and clears the selected rows.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "frame_scoring.h"
#include "go_to_frame_dlg.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "qt_seams.h"
#include "resource_ids.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QList<int> Rows(const QModelIndexList& indexes)
{
    QList<int> rows;
    for (const QModelIndex& i : indexes)
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QList<int> SelectedRows(const CLeftView& list) { return Rows(list.selectionModel()->selectedRows()); }

QList<int> TickedRows(const CLeftView& list)
{
    QList<int> rows;
    for (int i = 0; i < list.model()->rowCount(); ++i) {
        if (list.model()->index(i, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked)
            rows << i;
    }
    return rows;
}

QList<int> CheckedFrames() { return QList<int>(g_checkedFrames.begin(), g_checkedFrames.end()); }

void ClickRow(CLeftView& list, int nRow, Qt::KeyboardModifiers modifiers = {})
{
    list.scrollTo(list.model()->index(nRow, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers,
                      list.visualRect(list.model()->index(nRow, 0)).center());
}

// Starts the program with a capture of nFrames frames open and scored; `dropped` lists the
// frames stored empty ("none" for none).
QString StartWithCapture(ShellFixture& f, int nFrames, const QString& dropped)
{
    const QString capture =
        f.sample(QStringLiteral("capture.avi"), {"--frames", QString::number(nFrames), "--dropped", dropped});
    f.start();
    f.doc().OpenVideoFile(capture);
    if (!QTest::qWaitFor([&] { return !f.frame().GetFrameList()->GetScoring().IsRunning(); }, 20000))
        qFatal("the frames of %s were not scored", qPrintable(capture));
    return capture;
}

std::int32_t CurrentFrame(ShellFixture& f) { return f.doc().m_videoSource.GetCurrentPosition(); }

// What the pop-up menu showed, and where, when it opened.
struct Popup {
    bool bShown = false;
    QPoint pos;
    QStringList texts;
};

// Arranges for the next pop-up menu to be read and then answered with a key (0: closed).
void AnswerPopup(Popup& seen, int nKey)
{
    QTimer::singleShot(0, [&seen, nKey] {
        auto* pMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (pMenu == nullptr)
            return;
        seen.bShown = true;
        seen.pos = pMenu->pos();
        for (const QAction* a : pMenu->actions())
            seen.texts << a->text();
        if (nKey != 0)
            QTest::keyClick(pMenu, static_cast<Qt::Key>(nKey));
        else
            pMenu->close();
    });
}

} // namespace

class FrameListTest : public QObject {
    Q_OBJECT
private slots:
    void fillMarksDroppedFrames();
    void longCaptures_data();
    void longCaptures();
    void collectionTakesTheTicksOfItsMoment();
    void clickMakesTheClickedRowCurrent();
    void keys_data();
    void keys();
    void firstArrowStepsFromTheFrameOnShow();
    void goToFrame();
    void goToFrameRefusesWhatIsNoFrame_data();
    void goToFrameRefusesWhatIsNoFrame();
    void popupMenuTicksAndClearsSelectedRows();
    void popupMenuPlaces();
};

void FrameListTest::fillMarksDroppedFrames()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("three.avi"), {"--frames", "3", "--dropped", "1"});
    f.start();
    CLeftView& list = *f.frame().GetFrameList();
    QCOMPARE(list.horizontalHeader()->count(), 2);
    QCOMPARE(list.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Frame"));
    QCOMPARE(list.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Quality"));
    QCOMPARE(list.columnWidth(0), CLeftView::kColumnWidth);
    QCOMPARE(list.model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignLeft | Qt::AlignVCenter);
    QVERIFY(list.horizontalHeader()->isVisible());

    QTest::qWait(0);
    PaintCounter paints(list.viewport());
    f.doc().OpenVideoFile(capture);
    // Drawn once, when the rows are complete, and not again when the list lays them out; only
    // the scores, arriving later in one batch for so few frames, draw it once more.
    QCOMPARE(paints.nPaints, 1);
    QTRY_VERIFY(!list.GetScoring().IsRunning());
    QTest::qWait(50);
    QCOMPARE(list.GetScoring().GetBatchesShown(), std::size_t{1});
    QCOMPARE(paints.nPaints, 2);
    QCOMPARE(list.columnWidth(0), CLeftView::kColumnWidth);
    QCOMPARE(list.model()->rowCount(), 3);
    QCOMPARE(list.model()->index(1, 0).data().toString(), QStringLiteral("frame 0001"));
    QCOMPARE(TickedRows(list), (QList<int>{0, 2}));
    QVERIFY(list.model()->flags(list.model()->index(1, 0)) & Qt::ItemIsUserCheckable);
    QCOMPARE(CurrentFrame(f), 0);
    QVERIFY(SelectedRows(list).isEmpty());
    QVERIFY(list.updatesEnabled());
    QVERIFY(f.messages().empty());

    // A collection sees the dropped frame as unticked.
    f.command(ids::ID_FILE_SAVE);
    QCOMPARE(CheckedFrames(), (QList<int>{0, 2}));
}

void FrameListTest::longCaptures_data()
{
    QTest::addColumn<int>("nFrames");
    QTest::addColumn<QString>("lastRow");
    QTest::newRow("10,000 frames") << 10000 << "frame 9999";
    QTest::newRow("12,345 frames") << 12345 << "frame 12344";
}

void FrameListTest::longCaptures()
{
    QFETCH(int, nFrames);
    QFETCH(QString, lastRow);
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("long.avi"), {"--width", "2", "--height", "2", "--frames",
                                                                  QString::number(nFrames), "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = *f.frame().GetFrameList();
    QCOMPARE(list.model()->rowCount(), nFrames);
    QCOMPARE(list.verticalHeader()->count(), nFrames);
    QCOMPARE(list.model()->index(nFrames - 1, 0).data().toString(), lastRow);
    QCOMPARE(list.model()->index(42, 0).data().toString(), QStringLiteral("frame 0042"));
    QCOMPARE(TickedRows(list).size(), nFrames);

    // Every row reachable with the keyboard: End selects the last one.
    ClickRow(list, 0);
    QTest::keyClick(&list, Qt::Key_End);
    QCOMPARE(SelectedRows(list), QList<int>{nFrames - 1});
    QTest::keyClick(&list, Qt::Key_Up);
    QCOMPARE(CurrentFrame(f), nFrames - 2);

    // Opening again, scrolled to the end: the list shows its top, where the current frame is.
    f.doc().OpenVideoFile(capture);
    QCOMPARE(list.verticalScrollBar()->value(), 0);
}

void FrameListTest::collectionTakesTheTicksOfItsMoment()
{
    ShellFixture f;
    const QString capture = StartWithCapture(f, 3, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();
    // Space on a row toggles its box, as a click on the box does.
    for (int nRow : {0, 2}) {
        ClickRow(list, nRow);
        QTest::keyClick(&list, Qt::Key_Space);
    }
    QCOMPARE(TickedRows(list), QList<int>{1});

    f.command(ids::ID_FILE_SAVE_AS);
    QCOMPARE(CheckedFrames(), QList<int>{1});

    // Ticking afterwards changes the boxes, not the set, until the next collection.
    QTest::keyClick(&list, Qt::Key_Space);
    QCOMPARE(TickedRows(list), (QList<int>{1, 2}));
    QCOMPARE(CheckedFrames(), QList<int>{1});
    QVERIFY(IsFrameChecked(1));
    QVERIFY(!IsFrameChecked(2));
    f.command(ids::ID_SAVE_RGB_CHANNELS);
    QCOMPARE(CheckedFrames(), (QList<int>{1, 2}));

    // Opening again rebuilds the rows and forgets the user's ticks; the set waits for the
    // next collection.
    f.doc().OpenVideoFile(capture);
    QCOMPARE(TickedRows(list), (QList<int>{0, 1, 2}));
    QCOMPARE(CheckedFrames(), (QList<int>{1, 2}));
}

void FrameListTest::clickMakesTheClickedRowCurrent()
{
    ShellFixture f;
    StartWithCapture(f, 10, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();

    // The frame shown is the row the list highlights with its focus frame, not the lowest one
    // selected.
    ClickRow(list, 3);
    ClickRow(list, 7, Qt::ShiftModifier);
    QCOMPARE(SelectedRows(list), (QList<int>{3, 4, 5, 6, 7}));
    QCOMPARE(CurrentFrame(f), 7);
    ClickRow(list, 1, Qt::ControlModifier);
    QCOMPARE(CurrentFrame(f), 1);

    // A right click on a row moves the highlight there too (the pop-up menu, should it open
    // here, is closed at once).
    Popup seen;
    AnswerPopup(seen, 0);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, list.visualRect(list.model()->index(9, 0)).center());
    QCOMPARE(CurrentFrame(f), list.currentIndex().row());
    QTest::qWait(0);

    // A click below the rows that leaves nothing selected changes nothing.
    ClickRow(list, 1, Qt::ControlModifier);
    ClickRow(list, 3);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(5, list.viewport()->height() - 2));
    QVERIFY(SelectedRows(list).isEmpty());
    QCOMPARE(CurrentFrame(f), 3);
    QCOMPARE(TickedRows(list).size(), 10);
}

// A click in the table's script: the row, with Shift held when kShift is added.
constexpr int kShift = 1 << 16;

void FrameListTest::keys_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<int>>("keys");
    // The row the list ends on and whose frame must be painted; -1: wherever the key took the
    // list (a page depends on the pane's height), as long as it moved.
    QTest::addColumn<int>("nRow");
    QTest::newRow("Down on a middle row") << QList<int>{4} << QList<int>{Qt::Key_Down} << 5;
    QTest::newRow("Down on the last row") << QList<int>{9} << QList<int>{Qt::Key_Down} << 9;
    QTest::newRow("Up on a middle row") << QList<int>{4} << QList<int>{Qt::Key_Up} << 3;
    QTest::newRow("Up on row 0") << QList<int>{0} << QList<int>{Qt::Key_Up} << 0;
    QTest::newRow("Down after Shift-select") << QList<int>{3, 8 | kShift} << QList<int>{Qt::Key_Down} << 9;
    QTest::newRow("End") << QList<int>{2} << QList<int>{Qt::Key_End} << 9;
    QTest::newRow("Home after End") << QList<int>{2} << QList<int>{Qt::Key_End, Qt::Key_Home} << 0;
    QTest::newRow("Page Down") << QList<int>{2} << QList<int>{Qt::Key_PageDown} << -1;
    QTest::newRow("Page Up") << QList<int>{9} << QList<int>{Qt::Key_PageUp} << -1;
    QTest::newRow("first Down after open") << QList<int>{} << QList<int>{Qt::Key_Down} << 1;
}

void FrameListTest::keys()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QList<int>, keys);
    QFETCH(int, nRow);
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("keys.avi"),
                                     {"--width", "64", "--height", "48", "--frames", "10", "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = *f.frame().GetFrameList();
    CKestroView& view = *f.frame().GetFrameView();
    list.setFocus();
    for (int click : clicks)
        ClickRow(list, click & ~kShift, click & kShift ? Qt::ShiftModifier : Qt::NoModifier);
    const int nStart = list.currentIndex().row();

    PaintCounter paints(&view);
    for (int key : keys)
        QTest::keyClick(&list, static_cast<Qt::Key>(key));
    if (nRow < 0) {
        nRow = list.currentIndex().row();
        QVERIFY(nRow != nStart);
    }
    QCOMPARE(list.currentIndex().row(), nRow);
    QVERIFY(list.selectionModel()->isRowSelected(nRow));
    // At once, not at the next turn of the event loop; the view shows the result, even when
    // the frame stayed.
    QCOMPARE(CurrentFrame(f), nRow);
    QTRY_VERIFY(paints.nPaints > 0);
    const QImage expected = ShellFixture::framePicture(capture, nRow);
    QCOMPARE(ShellFixture::grab(view).copy(expected.rect()), expected);
}

void FrameListTest::firstArrowStepsFromTheFrameOnShow()
{
    ShellFixture f;
    StartWithCapture(f, 10, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();
    list.setFocus();
    // Frame 0 is on show and its row has the focus frame, unselected.
    QVERIFY(SelectedRows(list).isEmpty());
    QCOMPARE(list.currentIndex().row(), 0);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(SelectedRows(list), QList<int>{1});
    QCOMPARE(CurrentFrame(f), 1);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(SelectedRows(list), QList<int>{2});
    QCOMPARE(CurrentFrame(f), 2);
}

void FrameListTest::goToFrame()
{
    ShellFixture f;
    StartWithCapture(f, 500, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();
    f.dialogs().answerNumber(321);
    f.dialogs().answerNumber(std::nullopt);
    f.dialogs().answerNumber(9999);

    f.command(ids::ID_GOTO_FRAME);
    QCOMPARE(f.dialogs().numberRequests().size(), std::size_t(1));
    const kestro::shell::NumberRequest& asked = f.dialogs().numberRequests().front();
    QCOMPARE(asked.value, 0);
    QCOMPARE(asked.minimum, 0);
    QCOMPARE(asked.maximum, 499);
    QCOMPARE(CurrentFrame(f), 321);
    QCOMPARE(SelectedRows(list), QList<int>{321});
    QCOMPARE(list.currentIndex().row(), 321);
    // In sight in the list.
    QVERIFY(list.viewport()->rect().contains(list.visualRect(list.model()->index(321, 0))));

    // Cancelled: nothing moves. A number past the end is brought inside.
    f.command(ids::ID_GOTO_FRAME);
    QCOMPARE(f.dialogs().numberRequests().back().value, 321);
    QCOMPARE(CurrentFrame(f), 321);
    f.command(ids::ID_GOTO_FRAME);
    QCOMPARE(CurrentFrame(f), 499);
    QVERIFY(f.messages().empty());

    // The key asks the same.
    QVERIFY(f.frame()
                .GetCommandActions(ids::ID_GOTO_FRAME)
                .front()
                ->shortcuts()
                .contains(QKeySequence(Qt::CTRL | Qt::Key_G)));
}

void FrameListTest::goToFrameRefusesWhatIsNoFrame_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("nFrame"); // -1: refused
    QTest::addColumn<QString>("said");
    const QString range = QStringLiteral("type a whole number from 0 to 19.");
    QTest::newRow("past the last") << "25" << -1 << QStringLiteral("There is no frame 25 in this capture; ") + range;
    QTest::newRow("one past") << "20" << -1 << QStringLiteral("There is no frame 20 in this capture; ") + range;
    QTest::newRow("negative") << "-3" << -1 << QStringLiteral("There is no frame -3 in this capture; ") + range;
    QTest::newRow("exponent") << "1e1" << -1 << QStringLiteral("\"1e1\" is not a frame number; ") + range;
    QTest::newRow("fraction") << "3.5" << -1 << QStringLiteral("\"3.5\" is not a frame number; ") + range;
    QTest::newRow("words") << "ten" << -1 << QStringLiteral("\"ten\" is not a frame number; ") + range;
    QTest::newRow("beyond 64 bits") << "99999999999999999999" << -1
                                    << QStringLiteral("There is no frame 99999999999999999999 in this capture; ") +
                                           range;
    QTest::newRow("nothing") << "  " << -1 << QStringLiteral("No frame number given; ") + range;
    QTest::newRow("first") << "0" << 0 << QString();
    QTest::newRow("last") << "19" << 19 << QString();
    QTest::newRow("blanks around") << " 7 " << 7 << QString();
    QTest::newRow("leading zeros") << "007" << 7 << QString();
}

// The real dialog: what is not a frame of the capture is refused with the range, and the
// dialog stays open for a correction.
void FrameListTest::goToFrameRefusesWhatIsNoFrame()
{
    QFETCH(QString, typed);
    QFETCH(int, nFrame);
    QFETCH(QString, said);
    ShellFixture f;
    StartWithCapture(f, 20, QStringLiteral("none"));
    const kestro::shell::NumberSeam::Override showing(kestro::shell::numberSeam(), ShowGoToFrameDialog);
    QString proposed, shown;
    bool bStayed = false, bCorrected = false;
    QTimer::singleShot(0, [&] {
        auto* pDlg = qobject_cast<CGoToFrameDlg*>(QApplication::activeModalWidget());
        if (pDlg == nullptr)
            return;
        proposed = pDlg->GetNumberEdit().text();
        pDlg->GetNumberEdit().selectAll();
        QTest::keyClicks(&pDlg->GetNumberEdit(), typed);
        QTest::keyClick(&pDlg->GetNumberEdit(), Qt::Key_Return);
        bStayed = pDlg->isVisible();
        shown = pDlg->GetErrorLabel().isVisible() ? pDlg->GetErrorLabel().text() : QString();
        if (bStayed) {
            // The text is selected for a correction, and the refusal goes as it is typed.
            QTest::keyClicks(&pDlg->GetNumberEdit(), QStringLiteral("12"));
            bCorrected = pDlg->GetNumberEdit().text() == QStringLiteral("12") && !pDlg->GetErrorLabel().isVisible();
            QTest::keyClick(&pDlg->GetNumberEdit(), Qt::Key_Return);
        }
        if (pDlg->isVisible())
            pDlg->reject();
    });
    f.command(ids::ID_GOTO_FRAME);
    QCOMPARE(proposed, QStringLiteral("0")); // the frame on show
    QCOMPARE(bStayed, nFrame < 0);
    QCOMPARE(shown, said);
    QCOMPARE(bCorrected, nFrame < 0);
    QCOMPARE(CurrentFrame(f), nFrame < 0 ? 12 : nFrame);
    QVERIFY(f.messages().empty());
}

void FrameListTest::popupMenuTicksAndClearsSelectedRows()
{
    ShellFixture f;
    const QString capture = StartWithCapture(f, 10, QStringLiteral("8"));
    CLeftView& list = *f.frame().GetFrameList();
    f.command(ids::ID_FILE_SAVE);
    const QList<int> collected = CheckedFrames();

    // With nothing selected neither command changes a box.
    Popup seen;
    AnswerPopup(seen, Qt::Key_U);
    QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(seen.bShown);
    QCOMPARE(seen.texts, (QStringList{"&Check selected", "&Uncheck selected"}));
    QCOMPARE(TickedRows(list), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 9}));

    // Rows 1 to 3 and 6: cleared, then 2 to 3 ticked again; nothing else moves.
    ClickRow(list, 1);
    ClickRow(list, 3, Qt::ShiftModifier);
    ClickRow(list, 6, Qt::ControlModifier);
    QCOMPARE(CurrentFrame(f), 6);
    AnswerPopup(seen, Qt::Key_U);
    QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(TickedRows(list), (QList<int>{0, 4, 5, 7, 9}));
    QCOMPARE(SelectedRows(list), (QList<int>{1, 2, 3, 6}));

    ClickRow(list, 2);
    ClickRow(list, 3, Qt::ShiftModifier);
    AnswerPopup(seen, Qt::Key_C);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QApplication::sendEvent(&list, &menuKey);
    QCOMPARE(TickedRows(list), (QList<int>{0, 2, 3, 4, 5, 7, 9}));
    QCOMPARE(SelectedRows(list), (QList<int>{2, 3}));
    QCOMPARE(CurrentFrame(f), 3);
    QCOMPARE(CheckedFrames(), collected);

    // The whole of a selection is handled, however it was made, as one change: a capture's
    // every row must not cost a change per row.
    list.selectAll();
    QSignalSpy changes(list.model(), &QAbstractItemModel::dataChanged);
    AnswerPopup(seen, Qt::Key_U);
    QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(TickedRows(list).isEmpty());
    QCOMPARE(changes.count(), 1);
}

void FrameListTest::popupMenuPlaces()
{
    ShellFixture f;
    StartWithCapture(f, 10, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();
    const QPoint corner = list.mapToGlobal(list.contentsRect().topLeft());

    // From the keyboard: just inside the list's top-left corner, wherever the mouse is.
    Popup seen;
    AnswerPopup(seen, 0);
    QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(seen.pos, corner + QPoint(CLeftView::kPopupOffset, CLeftView::kPopupOffset));

    seen = {};
    AnswerPopup(seen, 0);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(60, 40), list.mapToGlobal(QPoint(60, 40)));
    QApplication::sendEvent(&list, &menuKey);
    QCOMPARE(seen.pos, corner + QPoint(CLeftView::kPopupOffset, CLeftView::kPopupOffset));

    // From the mouse: where it was clicked.
    seen = {};
    AnswerPopup(seen, 0);
    const QPoint click(30, 50);
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, click, list.viewport()->mapToGlobal(click));
    QApplication::sendEvent(list.viewport(), &rightClick);
    QCOMPARE(seen.pos, list.viewport()->mapToGlobal(click));
    QVERIFY(f.messages().empty());
}

QTEST_MAIN(FrameListTest)
#include "frame_list_test.moc"
