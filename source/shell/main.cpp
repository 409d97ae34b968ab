// Kestro: opens a raw planetary capture, shows its frames and exports the ticked ones.
#include "kestro_app.h"
#include "qt_seams.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#ifndef KESTRO_VERSION
#define KESTRO_VERSION ""
#endif

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Views raw planetary captures and exports their frames."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The capture (AVI or SER file) to open."),
                                 QStringLiteral("[file]"));

    // --help and --version are answered before any window system is asked for, so that they
    // work on a terminal with no display (over ssh, in a package build, for the man page). A
    // QCoreApplication prints them and exits, as QApplication would. Anything else, mistakes
    // included, is parsed again after QApplication has taken its own options (-platform, -style).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (parser.parse(arguments) && (parser.isSet(helpOption) || parser.isSet(versionOption))) {
        QCoreApplication textOnly(argc, argv);
        parser.process(textOnly); // prints and exits
        return 0;
    }

    QApplication qtApp(argc, argv);
    // The installed desktop entry's id: Wayland compositors and docks match the window to the
    // menu entry, and so to its icon, through it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tollbeck.Kestro"));
    parser.process(qtApp);
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        std::fprintf(stderr, "kestro: opens one capture at a time; %d further names ignored\n",
                     static_cast<int>(files.size() - 1));

    InstallQtSeams();
    CKestroApp app;
    if (!app.InitInstance(files))
        return 1;
    const int nResult = QApplication::exec();
    app.ExitInstance();
    return nResult;
}
