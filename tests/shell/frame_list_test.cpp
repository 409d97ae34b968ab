// The frame list: filling it from a capture, the collection of ticked frames, clicks and keys
// choosing the current frame, and the pop-up menu that ticks and clears the selected rows.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QApplication>
#include <QHeaderView>
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

// Starts the program with a capture of nFrames frames open; `dropped` lists the frames stored
// empty ("none" for none).
QString StartWithCapture(ShellFixture& f, int nFrames, const QString& dropped)
{
    const QString capture =
        f.sample(QStringLiteral("capture.avi"), {"--frames", QString::number(nFrames), "--dropped", dropped});
    f.start();
    f.doc().OpenVideoFile(capture);
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
    void clickMakesTheLowestSelectedRowCurrent();
    void keys_data();
    void keys();
    void firstArrowSelectsTheFrameOnShow();
    void popupMenuTicksAndClearsSelectedRows();
    void popupMenuPlaces();
};

void FrameListTest::fillMarksDroppedFrames()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("three.avi"), {"--frames", "3", "--dropped", "1"});
    f.start();
    CLeftView& list = *f.frame().GetFrameList();
    QCOMPARE(list.horizontalHeader()->count(), 1);
    QCOMPARE(list.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Frame"));
    QCOMPARE(list.columnWidth(0), CLeftView::kColumnWidth);
    QCOMPARE(list.model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
             Qt::AlignLeft | Qt::AlignVCenter);
    QVERIFY(list.horizontalHeader()->isVisible());

    QTest::qWait(0);
    PaintCounter paints(list.viewport());
    f.doc().OpenVideoFile(capture);
    // Drawn once, when the rows are complete, and not again when the list lays them out.
    QCOMPARE(paints.nPaints, 1);
    QTest::qWait(50);
    QCOMPARE(paints.nPaints, 1);
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

void FrameListTest::clickMakesTheLowestSelectedRowCurrent()
{
    ShellFixture f;
    StartWithCapture(f, 10, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();

    ClickRow(list, 3);
    ClickRow(list, 7, Qt::ShiftModifier);
    QCOMPARE(SelectedRows(list), (QList<int>{3, 4, 5, 6, 7}));
    QCOMPARE(CurrentFrame(f), 3);
    ClickRow(list, 1, Qt::ControlModifier);
    QCOMPARE(CurrentFrame(f), 1);

    // A right click is for the pop-up menu (closed at once should it open here) and leaves the
    // frame on show alone.
    Popup seen;
    AnswerPopup(seen, 0);
    QTest::mouseClick(list.viewport(), Qt::RightButton, {}, list.visualRect(list.model()->index(9, 0)).center());
    QCOMPARE(CurrentFrame(f), 1);
    QTest::qWait(0);

    // A click below the rows that leaves nothing selected changes nothing.
    ClickRow(list, 1, Qt::ControlModifier);
    ClickRow(list, 3);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, QPoint(5, list.viewport()->height() - 2));
    QVERIFY(SelectedRows(list).isEmpty());
    QCOMPARE(CurrentFrame(f), 3);
    QCOMPARE(TickedRows(list).size(), 10);
}

void FrameListTest::keys_data()
{
    QTest::addColumn<int>("nRow");
    QTest::addColumn<int>("nKey");
    QTest::addColumn<int>("nCurrent");
    QTest::addColumn<int>("nSelected");
    QTest::newRow("Down on a middle row") << 4 << int(Qt::Key_Down) << 5 << 5;
    QTest::newRow("Down on the last row") << 9 << int(Qt::Key_Down) << 9 << 9;
    QTest::newRow("Up on a middle row") << 4 << int(Qt::Key_Up) << 3 << 3;
    QTest::newRow("Up on row 0") << 0 << int(Qt::Key_Up) << 0 << 0;
    QTest::newRow("End: the row selected before the key") << 4 << int(Qt::Key_End) << 4 << 9;
    QTest::newRow("Home likewise") << 4 << int(Qt::Key_Home) << 4 << 0;
    QTest::newRow("Page Down likewise") << 4 << int(Qt::Key_PageDown) << 4 << -1;
}

void FrameListTest::keys()
{
    QFETCH(int, nRow);
    QFETCH(int, nKey);
    QFETCH(int, nCurrent);
    QFETCH(int, nSelected);
    ShellFixture f;
    StartWithCapture(f, 10, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();
    ClickRow(list, nRow);
    QCOMPARE(CurrentFrame(f), nRow);

    PaintCounter paints(f.frame().GetFrameView());
    QTest::keyClick(&list, static_cast<Qt::Key>(nKey));
    // At once, not at the next turn of the event loop.
    QCOMPARE(CurrentFrame(f), nCurrent);
    if (nSelected >= 0)
        QCOMPARE(SelectedRows(list), QList<int>{nSelected});
    // The frame view shows the result, even when the frame stayed.
    QTRY_VERIFY(paints.nPaints > 0);
}

void FrameListTest::firstArrowSelectsTheFrameOnShow()
{
    ShellFixture f;
    StartWithCapture(f, 10, QStringLiteral("none"));
    CLeftView& list = *f.frame().GetFrameList();
    list.setFocus();
    QVERIFY(SelectedRows(list).isEmpty());
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(SelectedRows(list), QList<int>{0});
    QCOMPARE(CurrentFrame(f), 0);
    QTest::keyClick(&list, Qt::Key_Down);
    QCOMPARE(SelectedRows(list), QList<int>{1});
    QCOMPARE(CurrentFrame(f), 1);
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
    QCOMPARE(CurrentFrame(f), 1);
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
    QCOMPARE(CurrentFrame(f), 2);
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
