// Where commands go: the export commands reach the frame list's handlers (which collect the
// ticked frames first) whichever pane is active; the toolbar's RGB button collects them too,
// through the document; the edit keys do nothing; Exit closes the window.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QKeyEvent>
#include <QTest>
#include <QToolBar>

namespace {

// Each way the user can ask for an export, and whether it collects the ticks first.
struct Route {
    const char* name;
    int nId;
    bool bCollects;
};
const Route kRoutes[] = {
    {"Save (Ctrl+S, toolbar)", ids::ID_FILE_SAVE, true},
    {"Save As (File menu)", ids::ID_FILE_SAVE_AS, true},
    {"Save RGB channels (File menu)", ids::ID_SAVE_RGB_CHANNELS, true},
    // Before the first collection the set is empty: without its own collection the button
    // would export nothing while every row is ticked.
    {"RGB toolbar button", ids::ID_TOOLBAR_RGB, true},
    {"Export Fits Frames", ids::ID_EXPORT_FITS, true},
};

void Activate(ShellFixture& f, QWidget* pPane)
{
    pPane->setFocus(Qt::MouseFocusReason);
    QCOMPARE(f.frame().GetActiveView(), pPane);
}

} // namespace

class CommandTest : public QObject {
    Q_OBJECT
private slots:
    void exportsRefuseWithoutVideoFromEitherPane();
    void exportsCollectTheTicksFromEitherPane();
    void everyIssuerReachesItsCommand();
    void editKeysDoNothing();
    void exitClosesTheWindow();
};

void CommandTest::exportsRefuseWithoutVideoFromEitherPane()
{
    ShellFixture f;
    f.start();
    for (QWidget* pPane :
         {static_cast<QWidget*>(f.frame().GetFrameList()), static_cast<QWidget*>(f.frame().GetFrameView())}) {
        Activate(f, pPane);
        for (const Route& r : kRoutes) {
            f.clearMessages();
            f.command(r.nId);
            QCOMPARE(f.messages().size(), std::size_t(1));
            QCOMPARE(f.messages().front().text, std::string("No AVI file open"));
            QCOMPARE(f.messages().front().caption, std::string("Open AVI file first"));
        }
    }
    QVERIFY(f.dialogs().fileRequests().empty());
}

void CommandTest::exportsCollectTheTicksFromEitherPane()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("six.avi"), {"--frames", "6", "--dropped", "4"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CFrameListModel& rows = f.frame().GetFrameList()->GetModel();

    for (QWidget* pPane :
         {static_cast<QWidget*>(f.frame().GetFrameView()), static_cast<QWidget*>(f.frame().GetFrameList())}) {
        Activate(f, pPane);
        for (const Route& r : kRoutes) {
            // Fresh ticks before each command: rows 0, 2 and 5 (4 holds no data).
            g_checkedFrames = {99};
            rows.SetTicked(1, false);
            rows.SetTicked(3, false);
            f.clearMessages();
            const std::size_t nDialogs = f.dialogs().fileRequests().size() + f.dialogs().fitsRequests().size();
            f.command(r.nId);
            const std::set<std::int32_t> expected =
                r.bCollects ? std::set<std::int32_t>{0, 2, 5} : std::set<std::int32_t>{99};
            QVERIFY2(g_checkedFrames == expected, r.name);
            // The command ran: it asked for a file (cancelled here) or told why it could not.
            QCOMPARE(f.dialogs().fileRequests().size() + f.dialogs().fitsRequests().size() - nDialogs +
                         f.messages().size(),
                     std::size_t(1));
            QVERIFY(IsFrameChecked(r.bCollects ? 2 : 99));
            QVERIFY(!IsFrameChecked(1));
        }
    }
    // Ticking after the collection leaves the set as it was.
    rows.SetTicked(1, true);
    QVERIFY(!IsFrameChecked(1));
}

void CommandTest::everyIssuerReachesItsCommand()
{
    ShellFixture f;
    f.start();
    // Menu items, keys and toolbar buttons for the export commands all arrive.
    for (const Route& r : kRoutes) {
        const QList<QAction*> actions = f.frame().GetCommandActions(r.nId);
        QVERIFY2(!actions.isEmpty(), r.name);
        for (QAction* pAction : actions) {
            f.clearMessages();
            pAction->trigger();
            QVERIFY2(f.messages().size() == 1, r.name);
        }
    }
    f.clearMessages();
    QTest::keyClick(f.frame().GetFrameList(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(f.messages().size(), std::size_t(1));
    QVERIFY(f.frame().GetToolBar().actions().contains(f.frame().GetCommandActions(ids::ID_TOOLBAR_RGB).front()));
}

// Sees which keys reach a widget, leaving the modifier keys out.
class KeySpy : public QObject {
public:
    explicit KeySpy(QWidget* pWidget) { pWidget->installEventFilter(this); }
    QList<int> keys;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::KeyPress) {
            const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
            if (nKey != Qt::Key_Control && nKey != Qt::Key_Shift && nKey != Qt::Key_Alt)
                keys << nKey;
        }
        return false;
    }
};

void CommandTest::editKeysDoNothing()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("edit.avi"), {"--frames", "3", "--dropped", ""});
    f.start();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = *f.frame().GetFrameList();
    list.GoToRow(1);
    for (QWidget* pPane : {static_cast<QWidget*>(&list), static_cast<QWidget*>(f.frame().GetFrameView())}) {
        Activate(f, pPane);
        // The window's keys take them before the pane could act on them.
        KeySpy spy(pPane);
        for (const QKeyCombination key :
             {Qt::CTRL | Qt::Key_Z, Qt::ALT | Qt::Key_Backspace, Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete,
              Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert, Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert})
            QTest::keyClick(pPane, key.key(), key.keyboardModifiers());
        QCOMPARE(spy.keys, QList<int>());
    }
    QVERIFY(f.messages().empty());
    QCOMPARE(f.doc().m_videoSource.GetCurrentPosition(), 1);
    QCOMPARE(list.model()->rowCount(), 3);
    QCOMPARE(f.doc().m_videoSource.GetFileName(), capture.toStdString());
}

void CommandTest::exitClosesTheWindow()
{
    ShellFixture f;
    f.start();
    QVERIFY(f.frame().isVisible());
    f.frame().GetCommandActions(ids::ID_APP_EXIT).front()->trigger();
    QVERIFY(!f.frame().isVisible());
}

QTEST_MAIN(CommandTest)
#include "command_test.moc"
