// kestro-screenshot: opens a capture in Kestro's real main window, shows it the way a user
// would (display mode, pattern, frame) and saves a picture of the window, for the README.
//
//   kestro-screenshot --output FILE.png [--mode normal|raw-y|raw-colour] [--frame N]
//                     [--width W --height H] CAPTURE.avi
#include "display_bar.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "main_frame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QSettings>
#include <QTest>

#include <cstdio>
#include <map>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {"output", "Where the PNG goes.", "file"},
        {"mode", "normal, raw-y or raw-colour.", "mode", "raw-colour"},
        {"frame", "The frame to show.", "n", "3"},
        {"width", "Window width.", "pixels", "960"},
        {"height", "Window height.", "pixels", "640"},
    });
    parser.addPositionalArgument("capture", "The AVI capture to show.");
    parser.process(qtApp);
    if (!parser.isSet("output") || parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "kestro-screenshot: give --output FILE.png and one capture\n");
        return 2;
    }
    const std::map<QString, int> modes{{"normal", 1004}, {"raw-y", 1005}, {"raw-colour", 1006}};
    const auto mode = modes.find(parser.value("mode"));
    if (mode == modes.end()) {
        std::fprintf(stderr, "kestro-screenshot: unknown --mode\n");
        return 2;
    }

    // A private settings folder, so the picture never shows the user's own recent files.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    CKestroApp app;
    if (!app.InitInstance(parser.positionalArguments()))
        return 1;
    CMainFrame& frame = *app.GetMainFrame();
    frame.resize(parser.value("width").toInt(), parser.value("height").toInt());
    if (!QTest::qWaitForWindowExposed(&frame))
        return 1;

    // Choose the mode with the display bar's button, and the frame by clicking its row.
    static_cast<QAbstractButton*>(frame.GetDisplayBar().GetDlgItem(mode->second))->click();
    CLeftView& list = *frame.GetFrameList();
    const QModelIndex row = list.model()->index(parser.value("frame").toInt(), 0);
    list.selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list.scrollTo(row);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(row).center());
    QTest::qWait(200);

    if (!frame.grab().save(parser.value("output"))) {
        std::fprintf(stderr, "kestro-screenshot: cannot write %s\n", qPrintable(parser.value("output")));
        return 1;
    }
    return 0;
}
