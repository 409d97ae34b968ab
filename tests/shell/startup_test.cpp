// The program as it starts: caption, display bar, menus, keys, toolbar, status bar, panes;
// New; a capture named on the command line; the About box.
#include "shell_fixture.h"

#include "about_dlg.h"
#include "display_bar.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "frame_list_model.h"
#include "main_frame.h"
#include "resource_ids.h"
#include "status_bar.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QToolBar>
#include <QToolButton>

namespace {

QStringList ExpectedAlgorithmEntries(const CKestroDoc& doc)
{
    QStringList entries;
    for (const std::string& name : doc.m_videoSource.m_converter.GetAlgorithmNames()) {
        if (!name.empty())
            entries << QString::fromStdString(name);
    }
    return entries << QStringLiteral("11-DeBayerToRGB");
}

QStringList MenuTexts(const QMenu* pMenu)
{
    QStringList texts;
    for (const QAction* a : pMenu->actions()) {
        if (a->isVisible())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return texts;
}

} // namespace

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void displayStateAfterStartUp();
    void menusKeysAndToolbar();
    void menusKeepTheReadmesPromises();
    void statusBarPanesAndPrompts();
    void framePaneFollowsTheCurrentFrame();
    void longStatusTextsNeverWidenTheWindow();
    void viewMenuTogglesBars();
    void newRefillsTheAlgorithmListOnce();
    void algorithmListSkipsEmptyNames();
    void commandLineFileOpens();
    void captionShowsPathsAsTyped();
    void aboutBox();
};

void StartupTest::displayStateAfterStartUp()
{
    ShellFixture f;
    f.start();
    CKestroDoc& doc = f.doc();

    QCOMPARE(f.frame().windowTitle(), QStringLiteral("Untitled - Kestro"));
    QCOMPARE(f.algorithmEntries(), ExpectedAlgorithmEntries(doc));
    QVERIFY(f.algorithmEntries().size() >= 2);
    QCOMPARE(f.algorithmList().currentIndex(), f.algorithmList().count() - 1);
    QCOMPARE(doc.m_videoSource.m_converter.GetAlgorithm(), 11);
    QCOMPARE(doc.m_nSelAlgorithm, 11);

    QVERIFY(f.button(ids::IDC_PATTERN_BG).isChecked());
    for (int id : {ids::IDC_PATTERN_GB, ids::IDC_PATTERN_RG, ids::IDC_PATTERN_GR})
        QVERIFY(!f.button(id).isChecked());
    QCOMPARE(doc.m_videoSource.m_converter.GetPattern(), 0);

    QVERIFY(f.button(ids::IDC_DISPLAY_NORMAL).isChecked());
    QVERIFY(!f.button(ids::IDC_DISPLAY_RAW_Y).isChecked());
    QVERIFY(!f.button(ids::IDC_DISPLAY_RAW_COLOUR).isChecked());
    QVERIFY(!f.button(ids::IDC_GRAYSCALE).isChecked());
    QVERIFY(!doc.m_videoSource.m_bRaw && !doc.m_videoSource.m_bRawColour && !doc.m_videoSource.m_bGreyscale);

    // The bar reads left to right: modes, BG GB RG GR and their red-blue swap, the algorithm
    // list, Grayscale.
    const QList<int> leftToRight{ids::IDC_DISPLAY_NORMAL, ids::IDC_DISPLAY_RAW_Y, ids::IDC_DISPLAY_RAW_COLOUR,
                                 ids::IDC_PATTERN_BG,     ids::IDC_PATTERN_GB,    ids::IDC_PATTERN_RG,
                                 ids::IDC_PATTERN_GR,     ids::IDC_SWAP_RED_BLUE, ids::IDC_ALGORITHM,
                                 ids::IDC_GRAYSCALE};
    const CDisplayBar& bar = f.frame().GetDisplayBar();
    for (qsizetype i = 1; i < leftToRight.size(); ++i) {
        const QRect before = bar.GetDlgItem(leftToRight[i - 1])->geometry();
        const QRect after = bar.GetDlgItem(leftToRight[i])->geometry();
        QVERIFY2(before.right() < after.left(), qPrintable(QStringLiteral("control %1").arg(leftToRight[i])));
    }
    for (int id : leftToRight) {
        if (auto* pButton = qobject_cast<QAbstractButton*>(bar.GetDlgItem(id))) {
            // No caption is cut off, whatever the desktop's font.
            QVERIFY2(pButton->width() >= pButton->sizeHint().width() || pButton->inherits("QPushButton"),
                     qPrintable(pButton->text()));
            QVERIFY(pButton->width() >= pButton->fontMetrics().horizontalAdvance(pButton->text()));
        }
    }

    // Panes: the frame list 130 pixels wide on this small screen (the frame view keeps the room),
    // empty, and active; the frame view blank.
    CLeftView& list = *f.frame().GetFrameList();
    QCOMPARE(list.width(), CMainFrame::kFrameListWidth);
    QCOMPARE(f.frame().GetSplitter().widget(0), &list);
    QCOMPARE(list.model()->rowCount(), 0);
    QCOMPARE(list.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Frame"));
    QCOMPARE(f.frame().GetActiveView(), &list);
    QCOMPARE(doc.m_pFrameList, &list);
    QCOMPARE(doc.m_pFrameView, f.frame().GetFrameView());
    QVERIFY(doc.m_hDrawDib != nullptr);

    const QImage view = f.frame().GetFrameView()->grab().toImage();
    QVERIFY(!view.isNull());
    for (const QPoint p :
         {QPoint(0, 0), QPoint(view.width() / 2, view.height() / 2), QPoint(view.width() - 1, view.height() - 1)})
        QCOMPARE(view.pixel(p), view.pixel(0, 0));
    QVERIFY(f.messages().empty());
}

void StartupTest::menusKeysAndToolbar()
{
    ShellFixture f;
    f.start();
    const QList<QAction*> menus = f.frame().menuBar()->actions();
    QCOMPARE(menus.size(), 4);
    QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Edit"));
    QCOMPARE(menus[2]->text(), QStringLiteral("&View"));
    QCOMPARE(menus[3]->text(), QStringLiteral("&Help"));
    QCOMPARE(MenuTexts(menus[0]->menu()),
             (QStringList{"&Open...\tCtrl+O", "&Save\tCtrl+S", "Save &As...", "Save RGB channels...", "-",
                          "Export Fits Frames...", "-", "Recent File", "-", "E&xit"}));
    QCOMPARE(menus[0]->menu()->actions()[1], f.frame().GetCommandActions(ids::ID_FILE_SAVE).front());
    QCOMPARE(MenuTexts(menus[1]->menu()), (QStringList{"&Undo\tCtrl+Z", "-", "Check &Best..."}));
    // Nothing to undo and no capture to choose from yet.
    for (const QAction* a : menus[1]->menu()->actions())
        QVERIFY2(!a->isEnabled() || a->isSeparator(), qPrintable(a->text()));
    QCOMPARE(MenuTexts(menus[2]->menu()),
             (QStringList{"&Toolbar", "&Status Bar", "&Levels", "-", "Zoom &In", "Zoom &Out", "&Actual Size",
                          "&Fit to Window", "-", "&Go to Frame...", "S&wap red and blue", "-", "&Byte Order", "-",
                          "&Play/Pause", "Pla&yback"}));
    QCOMPARE(MenuTexts(menus[3]->menu()), QStringList{"&About Kestro..."});
    for (const QAction* a : menus[0]->menu()->actions()) {
        if (a->text() == QStringLiteral("Recent File"))
            QVERIFY2(!a->isEnabled(), "the placeholder is grey");
    }

    // Keys: each issues its command.
    struct Key {
        QKeySequence key;
        int nId;
    };
    const Key keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_N), ids::ID_FILE_NEW},
        {QKeySequence(Qt::CTRL | Qt::Key_O), ids::ID_FILE_OPEN},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ids::ID_FILE_SAVE},
        {QKeySequence(Qt::Key_F6), ids::ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), ids::ID_PREV_PANE},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), ids::ID_EDIT_UNDO},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), ids::ID_EDIT_UNDO},
        {QKeySequence(Qt::CTRL | Qt::Key_X), ids::ID_EDIT_CUT},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), ids::ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_C), ids::ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), ids::ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_V), ids::ID_EDIT_PASTE},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), ids::ID_EDIT_PASTE},
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), ids::ID_VIEW_ZOOM_IN},
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), ids::ID_VIEW_ZOOM_IN},
        {QKeySequence(Qt::CTRL | Qt::Key_Minus), ids::ID_VIEW_ZOOM_OUT},
        {QKeySequence(Qt::CTRL | Qt::Key_0), ids::ID_VIEW_ACTUAL_SIZE},
        {QKeySequence(Qt::CTRL | Qt::Key_9), ids::ID_VIEW_FIT},
        {QKeySequence(Qt::CTRL | Qt::Key_G), ids::ID_GOTO_FRAME},
        {QKeySequence(Qt::CTRL | Qt::Key_B), ids::IDC_SWAP_RED_BLUE},
        {QKeySequence(Qt::Key_F5), ids::ID_PLAY_PAUSE},
    };
    for (const Key& k : keys) {
        bool bFound = false;
        for (const QAction* a : f.frame().GetCommandActions(k.nId))
            bFound = bFound || a->shortcuts().contains(k.key);
        QVERIFY2(bFound, qPrintable(k.key.toString()));
    }

    // Toolbar: six buttons and three separators, with their tooltips and prompts.
    struct Button {
        int nId;
        const char* tip;
        const char* prompt;
    };
    const Button buttons[] = {
        {ids::ID_FILE_OPEN, "Open", "Open an existing document"},
        {ids::ID_FILE_SAVE, "Save", "Save the active document"},
        {ids::ID_TOOLBAR_RGB, "", ""},
        {0, nullptr, nullptr},
        {ids::ID_CHECK_BEST, "Check best", "Keep only the sharpest frames ticked"},
        {0, nullptr, nullptr},
        {ids::ID_PLAY_PAUSE, "Play", "Play the capture as a film, or pause it"},
        {0, nullptr, nullptr},
        {ids::ID_APP_ABOUT, "About", "Show the program's version and its home page"},
    };
    const QList<QAction*> tools = f.frame().GetToolBar().actions();
    QCOMPARE(tools.size(), 9);
    for (qsizetype i = 0; i < tools.size(); ++i) {
        if (buttons[i].nId == 0) {
            QVERIFY(tools[i]->isSeparator());
            continue;
        }
        QVERIFY(f.frame().GetCommandActions(buttons[i].nId).contains(tools[i]));
        QVERIFY2(!tools[i]->icon().isNull(), buttons[i].tip);
        auto* pButton = qobject_cast<QToolButton*>(f.frame().GetToolBar().widgetForAction(tools[i]));
        QVERIFY(pButton != nullptr);
        QCOMPARE(pButton->toolTip(), QString::fromLatin1(buttons[i].tip));
        QCOMPARE(tools[i]->statusTip(), QString::fromLatin1(buttons[i].prompt));
    }
}

// Every "Menu ▸ Item (key)" the README names, lists of items after it included, stands in that
// menu with that key.
void StartupTest::menusKeepTheReadmesPromises()
{
    ShellFixture f;
    f.start();
    QFile readme(QStringLiteral(KESTRO_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text =
        QString::fromUtf8(readme.readAll()).replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    // A menu's items as the README writes them: no mnemonic, no key, and no dots after the name
    // (the README may write them as an ellipsis, or leave them out).
    const auto items = [&](const QString& menu) {
        QList<QPair<QString, const QAction*>> found;
        for (const QAction* pMenu : f.frame().menuBar()->actions()) {
            if (pMenu->text().remove(u'&') != menu)
                continue;
            for (const QAction* a : pMenu->menu()->actions()) {
                if (!a->isSeparator() && a->isVisible())
                    found.append({a->text().section(u'\t', 0, 0).remove(u'&').remove(QStringLiteral("...")), a});
            }
        }
        return found;
    };
    int nPromises = 0;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("(File|Edit|View|Help) \u25b8 ")).globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString menu = m.captured(1);
        qsizetype at = m.capturedEnd();
        for (bool bFirst = true;; bFirst = false) {
            // The longest item the text goes on with ("Save As…" rather than "Save").
            const QAction* pItem = nullptr;
            QString name;
            for (const auto& [itemName, pAction] : items(menu)) {
                if (text.mid(at).startsWith(itemName) && itemName.size() > name.size()) {
                    name = itemName;
                    pItem = pAction;
                }
            }
            if (pItem == nullptr) {
                QVERIFY2(!bFirst, qPrintable(QStringLiteral("%1 \u25b8 %2").arg(menu, text.mid(at, 30))));
                break;
            }
            ++nPromises;
            at += name.size();
            if (text.mid(at).startsWith(u'\u2026'))
                ++at;
            const QRegularExpressionMatch key =
                QRegularExpression(QStringLiteral("^ \\(((Ctrl|Shift|Alt)\\+[^,)]+|F[0-9]+)")).match(text.mid(at));
            if (key.hasMatch()) {
                const QString promised = key.captured(1);
                QStringList keys{pItem->text().section(u'\t', 1)};
                for (const QKeySequence& k : pItem->shortcuts())
                    keys << k.toString(QKeySequence::PortableText);
                QVERIFY2(keys.contains(promised), qPrintable(name + QStringLiteral(": ") + promised));
                at += key.capturedLength();
                at = text.indexOf(u')', at) + 1;
            }
            // A list of items of the same menu: "Zoom In (Ctrl++), Zoom Out (Ctrl+-) and …".
            const QRegularExpressionMatch more = QRegularExpression(QStringLiteral("^(, | and )")).match(text.mid(at));
            if (!more.hasMatch())
                break;
            at += more.capturedLength();
        }
    }
    QVERIFY2(nPromises >= 10, qPrintable(QString::number(nPromises)));
}

void StartupTest::statusBarPanesAndPrompts()
{
    ShellFixture f;
    f.start();
    CStatusBar& bar = f.frame().GetStatusBar();
    QCOMPARE(bar.GetPaneCount(), 4);
    QCOMPARE(bar.GetPaneText(0), QStringLiteral("Ready"));
    // Offscreen there is no keyboard to ask, so the indicators stay blank; in order after the
    // message pane.
    for (int i = 1; i < 4; ++i) {
        QCOMPARE(bar.GetPaneText(i), QString());
        QVERIFY(bar.GetItemRect(i).left() > bar.GetItemRect(i - 1).left());
    }
    QVERIFY(bar.GetItemRect(0).width() > bar.GetItemRect(1).width());

    // A hovered command shows its prompt; leaving it brings "Ready" back.
    QAction* pSaveAs = f.frame().GetCommandActions(ids::ID_FILE_SAVE_AS).front();
    QCOMPARE(pSaveAs->statusTip(), QStringLiteral("Save the active document with a new name"));
    QVERIFY(pSaveAs->showStatusText(&f.frame()));
    QCOMPARE(bar.GetPaneText(0), QStringLiteral("Save the active document with a new name"));
    QStatusTipEvent leave{QString()};
    QApplication::sendEvent(&f.frame(), &leave);
    QCOMPARE(bar.GetPaneText(0), QStringLiteral("Ready"));

    const auto prompt = [&f](int nId) { return f.frame().GetCommandActions(nId).front()->statusTip(); };
    QCOMPARE(prompt(ids::ID_APP_EXIT), QStringLiteral("Quit the application; prompts to save documents"));
    QCOMPARE(prompt(ids::ID_VIEW_TOOLBAR), QStringLiteral("Show or hide the toolbar"));
    QCOMPARE(prompt(ids::ID_VIEW_STATUS_BAR), QStringLiteral("Show or hide the status bar"));
    QCOMPARE(prompt(ids::ID_NEXT_PANE), QStringLiteral("Switch to the next window pane"));
    QCOMPARE(prompt(ids::ID_PREV_PANE), QStringLiteral("Switch back to the previous window pane"));
    QCOMPARE(prompt(ids::ID_FILE_MRU_FIRST), QStringLiteral("Open this document"));
    QCOMPARE(prompt(ids::ID_SAVE_RGB_CHANNELS), QString());
    QCOMPARE(prompt(ids::ID_EXPORT_FITS), QString());
}

void StartupTest::framePaneFollowsTheCurrentFrame()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("pane.avi"), {"--width", "64", "--height", "48", "--frames", "10",
                                                                  "--rate", "25", "--dropped", "3,4"});
    f.start();
    CStatusBar& bar = f.frame().GetStatusBar();
    QCOMPARE(bar.GetFrameText(), QString());
    f.doc().OpenVideoFile(capture);
    const QString kCapture = QStringLiteral(" \u00b7 64\u00d748 \u00b7 I420 \u00b7 25 fps \u00b7 2 dropped");
    QCOMPARE(bar.GetFrameText(), QStringLiteral("Frame 0 of 10") + kCapture);
    // Left of the lock-key indicators, in sight.
    QVERIFY(bar.GetFramePane()->isVisible());
    QTRY_VERIFY(bar.GetFramePane()->geometry().right() < bar.GetItemRect(1).left());

    CLeftView& list = *f.frame().GetFrameList();
    list.setFocus();
    const std::pair<int, QString> steps[] = {
        {Qt::Key_Down, QStringLiteral("Frame 1 of 10")},
        {Qt::Key_Down, QStringLiteral("Frame 2 of 10")},
        {Qt::Key_Down, QStringLiteral("Frame 3 of 10 (dropped)")},
        {Qt::Key_End, QStringLiteral("Frame 9 of 10")},
    };
    for (const auto& [nKey, text] : steps) {
        QTest::keyClick(&list, static_cast<Qt::Key>(nKey));
        QCOMPARE(bar.GetFrameText(), text + kCapture);
    }
}

void StartupTest::longStatusTextsNeverWidenTheWindow()
{
    ShellFixture f;
    f.start();
    CMainFrame& frame = f.frame();
    frame.resize(1100, 760);
    QTRY_COMPARE(frame.width(), 1100);
    CStatusBar& bar = f.frame().GetStatusBar();
    const QString text =
        QStringLiteral("Frames cannot be scored: ") + QStringLiteral("a reason at length, ").repeated(30);
    QWidget* pScoring = bar.findChild<QWidget*>(QStringLiteral("scoringPane"));
    QVERIFY(pScoring != nullptr);

    // Every pane with text at once: the window keeps its width, each pane is cut short within
    // it and holds the whole text in its tooltip.
    bar.SetPaneText(0, text);
    bar.SetScoringText(text);
    bar.SetFrameText(text);
    QTest::qWait(50);
    QCOMPARE(frame.width(), 1100);
    QVERIFY(frame.minimumSizeHint().width() <= 1100);
    for (QWidget* pPane : {static_cast<QWidget*>(bar.GetPane(0)), pScoring, bar.GetFramePane()}) {
        QVERIFY2(pPane->isVisible(), qPrintable(pPane->objectName()));
        QVERIFY2(pPane->geometry().right() < bar.width(), qPrintable(pPane->objectName()));
        QCOMPARE(pPane->toolTip(), text);
    }
    QCOMPARE(bar.GetPaneText(0), text);
    QCOMPARE(bar.GetScoringText(), text);
    QCOMPARE(bar.GetFrameText(), text);

    // A long reason of the scoring gives way to the frame pane, which shows whole.
    const QString frameText =
        QStringLiteral("Frame 11 of 60 \u00b7 640\u00d7480 \u00b7 I420 \u00b7 25 fps \u00b7 0 dropped");
    bar.SetPaneText(0, QStringLiteral("Ready"));
    bar.SetFrameText(frameText);
    bar.SetScoringText(text);
    QTRY_COMPARE(bar.GetFramePane()->width(), bar.GetFramePane()->sizeHint().width());
    QCOMPARE(bar.GetFramePane()->toolTip(), QString());
    QCOMPARE(pScoring->toolTip(), text);
    QCOMPARE(frame.width(), 1100);

    // A text that fits shows whole, without a tooltip.
    bar.SetScoringText(QString());
    bar.SetFrameText(QStringLiteral("Frame 1 of 2"));
    bar.SetPaneText(0, QStringLiteral("Ready"));
    QTRY_COMPARE(bar.GetPane(0)->toolTip(), QString());
    QTRY_COMPARE(bar.GetFramePane()->toolTip(), QString());
}

void StartupTest::viewMenuTogglesBars()
{
    ShellFixture f;
    f.start();
    QAction* pToolbarItem = f.frame().GetCommandActions(ids::ID_VIEW_TOOLBAR).front();
    QAction* pStatusItem = f.frame().GetCommandActions(ids::ID_VIEW_STATUS_BAR).front();
    QMenu* pViewMenu = f.frame().menuBar()->actions()[2]->menu();

    pToolbarItem->trigger();
    QVERIFY(f.frame().GetToolBar().isHidden());
    QVERIFY2(!f.frame().GetDisplayBand().isHidden(), "the display bar stays");
    emit pViewMenu->aboutToShow();
    QVERIFY(!pToolbarItem->isChecked());
    QVERIFY(pStatusItem->isChecked());

    pToolbarItem->trigger();
    QVERIFY(!f.frame().GetToolBar().isHidden());
    QCOMPARE(f.frame().GetToolBar().actions().size(), 9);
    emit pViewMenu->aboutToShow();
    QVERIFY(pToolbarItem->isChecked());

    pStatusItem->trigger();
    QVERIFY(f.frame().GetStatusBar().isHidden());
    emit pViewMenu->aboutToShow();
    QVERIFY(!pStatusItem->isChecked());
    pStatusItem->trigger();
    QVERIFY(!f.frame().GetStatusBar().isHidden());
}

void StartupTest::newRefillsTheAlgorithmListOnce()
{
    ShellFixture f;
    f.start();
    const QStringList entries = f.algorithmEntries();
    QComboBox& list = f.algorithmList();
    list.setCurrentIndex(1);
    emit list.activated(1);
    f.button(ids::IDC_PATTERN_GR).click();
    f.button(ids::IDC_DISPLAY_RAW_COLOUR).click();
    QCOMPARE(f.doc().m_nSelAlgorithm, 2);

    QTest::keyClick(&f.frame(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(f.algorithmEntries(), entries);
    QCOMPARE(list.currentIndex(), list.count() - 1);
    QCOMPARE(f.doc().m_videoSource.m_converter.GetAlgorithm(), 11);
    QCOMPARE(f.doc().m_nSelAlgorithm, 11);
    QVERIFY(f.button(ids::IDC_PATTERN_BG).isChecked());
    QVERIFY(!f.button(ids::IDC_PATTERN_GR).isChecked());
    QCOMPARE(f.doc().m_videoSource.m_converter.GetPattern(), 0);
    // The display mode is left alone.
    QVERIFY(f.doc().m_videoSource.m_bRaw && f.doc().m_videoSource.m_bRawColour);
    QCOMPARE(f.frame().windowTitle(), QStringLiteral("Untitled - Kestro"));

    // With a capture open, New keeps it, its rows and ticks, and the caption goes on naming it.
    const QString capture = f.sample(QStringLiteral("kept.avi"), {"--frames", "4", "--dropped", "2"});
    f.doc().OpenVideoFile(capture);
    f.frame().GetFrameList()->GetModel().SetTicked(0, false);
    QTest::keyClick(&f.frame(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(f.frame().windowTitle(), capture + QStringLiteral(" - Kestro"));
    QCOMPARE(f.doc().m_videoSource.GetFileName(), capture.toStdString());
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), 4);
    QVERIFY(!f.frame().GetFrameList()->GetModel().IsTicked(0));
}

void StartupTest::algorithmListSkipsEmptyNames()
{
    QComboBox list;
    list.addItem(QStringLiteral("left over"));
    CKestroDoc::FillAlgorithmList(list, {"01-Nearest", "", "03-VNG", ""});
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.itemText(0), QStringLiteral("01-Nearest"));
    QCOMPARE(list.itemText(1), QStringLiteral("03-VNG"));
    QCOMPARE(list.itemText(2), QStringLiteral("11-DeBayerToRGB"));
    QCOMPARE(list.currentIndex(), 2);

    CKestroDoc::FillAlgorithmList(list, {});
    QCOMPARE(list.count(), 1);
    QCOMPARE(list.currentIndex(), 0);
}

void StartupTest::commandLineFileOpens()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("named.avi"), {"--frames", "4", "--dropped", "2"});
    // Named relative to the working folder, as a shell would pass it.
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(f.folder());
    f.start({QStringLiteral("named.avi")});
    QDir::setCurrent(oldCwd);

    QCOMPARE(f.doc().m_videoSource.GetFileName(), capture.toStdString());
    QCOMPARE(f.frame().windowTitle(), capture + QStringLiteral(" - Kestro"));
    QCOMPARE(f.app().GetRecentFile(1), capture);
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), 4);
    QCOMPARE(f.doc().m_videoSource.GetCurrentPosition(), 0);
    QCOMPARE(f.algorithmList().currentText(), QStringLiteral("11-DeBayerToRGB"));
    QVERIFY(f.messages().empty());
}

void StartupTest::captionShowsPathsAsTyped()
{
    ShellFixture f;
    f.start();
    // "[*]" is Qt's mark for unsaved changes; in a path it is just three characters.
    f.doc().SetTitle(QStringLiteral("/data/odd[*]name & more.avi"));
    QCOMPARE(f.frame().windowHandle()->title(), QStringLiteral("/data/odd[*]name & more.avi - Kestro"));
}

void StartupTest::aboutBox()
{
    CAboutDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("About Kestro"));
    const auto* pVersion = dlg.findChild<QLabel*>(QStringLiteral("version"));
    QVERIFY(pVersion != nullptr);
    QCOMPARE(pVersion->text(), QStringLiteral("Kestro Version 3.1"));
    auto* pOk = dlg.findChild<QPushButton*>(QStringLiteral("ok"));
    auto* pHome = dlg.findChild<QPushButton*>(QStringLiteral("homePage"));
    QVERIFY(pOk && pOk->isDefault());
    QCOMPARE(pHome->text(), QString::fromLatin1(CAboutDlg::kHomePage));

    // The home page goes to the desktop's browser and the box stays open.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    dlg.show();
    pHome->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QString::fromLatin1(CAboutDlg::kHomePage))});
    QVERIFY(dlg.isVisible());
    pOk->click();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));

    // The Help menu and the toolbar's last button open it modally.
    ShellFixture f;
    f.start();
    for (QAction* pAction : f.frame().GetCommandActions(ids::ID_APP_ABOUT)) {
        bool bShown = false;
        QTimer::singleShot(0, [&bShown] {
            if (auto* pBox = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                bShown = true;
                pBox->accept();
            }
        });
        pAction->trigger();
        QVERIFY(bShown);
    }
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
