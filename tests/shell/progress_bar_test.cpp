// The export's progress bar in the status bar: where it goes in its pane, stepping through the
// engines' callback, following the pane, and giving the pane back when it goes.
#include "shell_fixture.h"

#include "main_frame.h"
#include "progress_bar.h"
#include "status_bar.h"

#include <QEvent>
#include <QFontMetrics>
#include <QProgressBar>
#include <QTest>

#include <thread>

using PaneRect = CProgressBar::PaneRect;
Q_DECLARE_METATYPE(CProgressBar::PaneRect)

char* toString(const PaneRect& rc)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3, %4)").arg(rc.left).arg(rc.top).arg(rc.right).arg(rc.bottom));
}

namespace {

const QString kMessage = QStringLiteral("Saving AVI Frames");

PaneRect FromQRect(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

QRect ToQRect(const PaneRect& rc) { return QRect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top); }

// Where the control belongs in the pane as the status bar lays it out now.
PaneRect Expected(const CStatusBar& statusBar, int nPane, const QString& message, int nSizePercent)
{
    const QFontMetrics metrics(statusBar.font());
    return CProgressBar::PlaceInPane(FromQRect(statusBar.GetItemRect(nPane)), metrics.horizontalAdvance(message),
                                     metrics.horizontalAdvance(QChar(u' ')), nSizePercent);
}

} // namespace

class ProgressBarTest : public QObject {
    Q_OBJECT
private slots:
    void placesTheControlInThePane_data();
    void placesTheControlInThePane();
    void createShowsTheMessageAndTheControl();
    void stepsThroughTheEnginesCallbackAndPaintsWhatChanges();
    void stepsOfAnExportOnItsOwnThreadAreCountedForTheBar();
    void followsThePaneWhenTheWindowResizes();
    void givesThePaneBack_data();
    void givesThePaneBack();
    void withoutAControlNothingHappens_data();
    void withoutAControlNothingHappens();
};

void ProgressBarTest::placesTheControlInThePane_data()
{
    QTest::addColumn<PaneRect>("pane");
    QTest::addColumn<int>("nMessageWidth");
    QTest::addColumn<int>("nSizePercent");
    QTest::addColumn<PaneRect>("expected");

    // Blanks are 3 px wide throughout: the message takes its width plus 12.
    QTest::newRow("whole room") << PaneRect{0, 2, 400, 20} << 100 << 100 << PaneRect{112, 3, 400, 19};
    QTest::newRow("half the room") << PaneRect{0, 2, 400, 20} << 100 << 50 << PaneRect{112, 3, 256, 19};
    QTest::newRow("no message, from the left edge") << PaneRect{10, 0, 110, 30} << 0 << 100 << PaneRect{10, 3, 110, 27};
    QTest::newRow("message wider than the pane") << PaneRect{0, 2, 400, 20} << 500 << 100 << PaneRect{512, 3, 512, 19};
    QTest::newRow("message wider, part of the room")
        << PaneRect{0, 2, 400, 20} << 500 << 30 << PaneRect{512, 3, 512, 19};
    QTest::newRow("message just fills the pane") << PaneRect{0, 0, 112, 20} << 100 << 100 << PaneRect{112, 2, 112, 18};
    QTest::newRow("low pane keeps its height") << PaneRect{0, 5, 400, 14} << 100 << 100 << PaneRect{112, 5, 400, 14};
    QTest::newRow("pane partly left of the bar") << PaneRect{-50, 0, 50, 20} << 0 << 50 << PaneRect{-50, 2, 0, 18};
    QTest::newRow("share above 100 stays in the pane")
        << PaneRect{0, 0, 400, 20} << 100 << 150 << PaneRect{112, 2, 400, 18};
    QTest::newRow("no share, no width") << PaneRect{0, 0, 400, 20} << 100 << 0 << PaneRect{112, 2, 112, 18};
}

void ProgressBarTest::placesTheControlInThePane()
{
    QFETCH(PaneRect, pane);
    QFETCH(int, nMessageWidth);
    QFETCH(int, nSizePercent);
    QFETCH(PaneRect, expected);
    QCOMPARE(CProgressBar::PlaceInPane(pane, nMessageWidth, 3, nSizePercent), expected);
}

void ProgressBarTest::createShowsTheMessageAndTheControl()
{
    ShellFixture f;
    f.start();
    CStatusBar& statusBar = f.frame().GetStatusBar();
    CProgressBar bar;
    QVERIFY(bar.Create(kMessage, 100, 250, false, 0));

    QCOMPARE(statusBar.GetPaneText(0), kMessage);
    QProgressBar* pControl = bar.GetControl();
    QVERIFY(pControl);
    QCOMPARE(pControl->parentWidget(), &statusBar);
    QVERIFY(pControl->isVisible());
    QVERIFY(!pControl->isTextVisible());
    QCOMPARE(pControl->minimum(), 0);
    QCOMPARE(pControl->maximum(), 250);
    QCOMPARE(pControl->value(), 0);

    const PaneRect expected = Expected(statusBar, 0, kMessage, 100);
    QCOMPARE(pControl->geometry(), ToQRect(expected));
    QCOMPARE(bar.GetLastRect(), expected);
    // Right of the message and inside the pane: the room the pane really has.
    const QRect pane = statusBar.GetItemRect(0);
    QVERIFY(pControl->x() > pane.x() + QFontMetrics(statusBar.font()).horizontalAdvance(kMessage));
    QCOMPARE(pControl->geometry().right(), pane.right());
    QVERIFY(pControl->width() > 0);
    QVERIFY(pane.contains(pControl->geometry()));

    // Creating again leaves one control, the new one, with the new share of the room.
    QVERIFY(bar.Create(kMessage, 50, 10, false, 0));
    QCOMPARE(statusBar.findChildren<QProgressBar*>().size(), qsizetype(1));
    QCOMPARE(statusBar.findChildren<QProgressBar*>().front(), bar.GetControl());
    QCOMPARE(bar.GetControl()->geometry(), ToQRect(Expected(statusBar, 0, kMessage, 50)));
    QCOMPARE(bar.GetControl()->maximum(), 10);
    QCOMPARE(statusBar.GetPaneText(0), kMessage);
}

void ProgressBarTest::stepsThroughTheEnginesCallbackAndPaintsWhatChanges()
{
    ShellFixture f;
    f.start();
    CProgressBar bar;
    QVERIFY(bar.Create(kMessage, 100, 100, false, 0));
    // Steps that move the bar are painted at once, with no event loop running, as in an export.
    QVERIFY(bar.SetRange(0, 7, 1));
    QProgressBar& control = *bar.GetControl();
    PaintCounter paints(&control);
    g_pProgressBar = &bar;
    for (int i = 0; i < 7; ++i)
        StepExportProgress();
    QCOMPARE(control.value(), 7);
    QCOMPARE(paints.nPaints, 7);

    // Steps far below a chunk's width change nothing on screen and cost no paint: an export
    // steps once per source frame, however few frames it writes.
    QVERIFY(bar.SetRange(0, 1000000, 1));
    paints.nPaints = 0;
    for (int i = 0; i < 7; ++i)
        StepExportProgress();
    QCOMPARE(control.value(), 14);
    QCOMPARE(paints.nPaints, 0);

    // Past the maximum it starts over from the minimum, not from zero.
    QVERIFY(bar.SetRange(20, 24, 2));
    QCOMPARE(control.value(), 20);
    QList<int> positions;
    for (int i = 0; i < 4; ++i) {
        StepExportProgress();
        positions << control.value();
    }
    QCOMPARE(positions, (QList<int>{22, 24, 20, 22}));

    // A hidden control shows again when stepped.
    control.hide();
    StepExportProgress();
    QVERIFY(control.isVisible());

    // Between exports the callback steps nothing.
    g_pProgressBar = nullptr;
    const int nBefore = control.value();
    StepExportProgress();
    QCOMPARE(control.value(), nBefore);
}

void ProgressBarTest::stepsOfAnExportOnItsOwnThreadAreCountedForTheBar()
{
    ShellFixture f;
    f.start();
    CProgressBar bar;
    QVERIFY(bar.Create(kMessage, 100, 100, false, 0));
    QVERIFY(bar.SetRange(0, 50, 1));
    g_pProgressBar = &bar;
    ResetCountedSteps();
    // Off the interface thread the callback leaves the control alone and only counts.
    std::thread worker([] {
        for (int i = 0; i < 30; ++i)
            StepExportProgress();
    });
    worker.join();
    QCOMPARE(bar.GetControl()->value(), 0);
    // The bar shows them all, once, on the interface thread.
    QCOMPARE(bar.ShowCountedSteps(), 30);
    QCOMPARE(bar.GetControl()->value(), 30);
    QCOMPARE(bar.ShowCountedSteps(), 0);
    QCOMPARE(bar.GetControl()->value(), 30);
    // Steps left over from an export that ended do not reach the next one's bar.
    std::thread([] { StepExportProgress(); }).join();
    ResetCountedSteps();
    QCOMPARE(bar.ShowCountedSteps(), 0);
    g_pProgressBar = nullptr;
}

void ProgressBarTest::followsThePaneWhenTheWindowResizes()
{
    ShellFixture f;
    f.start();
    CMainFrame& frame = f.frame();
    CStatusBar& statusBar = frame.GetStatusBar();
    CProgressBar bar;
    QVERIFY(bar.Create(kMessage, 50, 100, false, 0));
    QProgressBar& control = *bar.GetControl();
    const QRect before = control.geometry();

    const int nPaneWidth = statusBar.GetItemRect(0).width();
    frame.resize(frame.width() + 160, frame.height());
    QTRY_COMPARE(statusBar.GetItemRect(0).width(), nPaneWidth + 160);
    const PaneRect expected = Expected(statusBar, 0, kMessage, 50);
    QCOMPARE(control.geometry(), ToQRect(expected));
    QCOMPARE(control.width(), before.width() + 80);
    QCOMPARE(bar.GetLastRect(), expected);

    // While the pane stays where it is, fitting again leaves the control alone: moved aside by
    // hand, it stays aside.
    control.move(control.x() + 5, control.y());
    QVERIFY(bar.FitToPane());
    QEvent layoutRequest(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(&statusBar, &layoutRequest);
    QCOMPARE(control.x(), expected.left + 5);
    QCOMPARE(statusBar.GetPaneText(0), kMessage);
}

void ProgressBarTest::givesThePaneBack_data()
{
    QTest::addColumn<int>("nPane");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");

    QTest::newRow("message pane, idle") << 0 << QStringLiteral("Ready") << QStringLiteral("Ready");
    QTest::newRow("message pane, showing a prompt")
        << 0 << QStringLiteral("Save the ticked frames") << QStringLiteral("Ready");
    QTest::newRow("message pane, empty") << 0 << QString() << QStringLiteral("Ready");
    QTest::newRow("indicator pane, on") << 1 << QStringLiteral("CAP") << QStringLiteral("CAP");
    QTest::newRow("indicator pane, off") << 3 << QString() << QString();
}

void ProgressBarTest::givesThePaneBack()
{
    QFETCH(int, nPane);
    QFETCH(QString, before);
    QFETCH(QString, after);

    ShellFixture f;
    f.start();
    CStatusBar& statusBar = f.frame().GetStatusBar();
    statusBar.SetPaneText(nPane, before);
    {
        CProgressBar bar;
        QVERIFY(bar.Create(kMessage, 100, 10, false, nPane));
        QCOMPARE(statusBar.GetPaneText(nPane), kMessage);
        g_pProgressBar = &bar;
        StepExportProgress();
    }
    QCOMPARE(statusBar.GetPaneText(nPane), after);
    // The control went with the bar, and so did the engines' pointer to it.
    QVERIFY(statusBar.findChildren<QProgressBar*>().isEmpty());
    QCOMPARE(g_pProgressBar, nullptr);

    // Restore alone hides the control, and a later fit does not bring the message back.
    CProgressBar bar;
    QVERIFY(bar.Create(kMessage, 100, 10, false, nPane));
    bar.Restore();
    QVERIFY(bar.GetControl()->isHidden());
    QCOMPARE(statusBar.GetPaneText(nPane), after);
    QVERIFY(bar.FitToPane());
    QCOMPARE(statusBar.GetPaneText(nPane), after);
}

void ProgressBarTest::withoutAControlNothingHappens_data()
{
    QTest::addColumn<bool>("bStart");
    QTest::addColumn<int>("nPane");
    QTest::addColumn<bool>("bRestart");

    // nPane -2 means Create is never called.
    QTest::newRow("never created") << true << -2 << false;
    QTest::newRow("no main window") << false << 0 << false;
    QTest::newRow("pane past the last") << true << CStatusBar::kPaneCount << false;
    QTest::newRow("negative pane") << true << -1 << false;
    // The status bar deletes the control with itself; the bar must not delete it again.
    QTest::newRow("status bar went first") << true << 0 << true;
}

void ProgressBarTest::withoutAControlNothingHappens()
{
    QFETCH(bool, bStart);
    QFETCH(int, nPane);
    QFETCH(bool, bRestart);

    ShellFixture f;
    if (bStart)
        f.start();
    {
        CProgressBar bar;
        if (nPane != -2) {
            const bool bCreated = bar.Create(kMessage, 100, 10, false, nPane);
            QCOMPARE(bCreated, bRestart);
        }
        if (bRestart)
            f.restart();

        QVERIFY(!bar.GetControl());
        QVERIFY(!bar.SetRange(0, 5, 1));
        QVERIFY(!bar.FitToPane());
        bar.SetStep(2);
        bar.Step();
        g_pProgressBar = &bar;
        StepExportProgress();
        bar.Restore();
        QVERIFY(!bar.GetControl());
    }
    QCOMPARE(g_pProgressBar, nullptr);
    if (bStart) {
        CStatusBar& statusBar = f.frame().GetStatusBar();
        QCOMPARE(statusBar.GetPaneText(0), QStringLiteral("Ready"));
        QVERIFY(statusBar.findChildren<QProgressBar*>().isEmpty());
    }
}

QTEST_MAIN(ProgressBarTest)
#include "progress_bar_test.moc"
