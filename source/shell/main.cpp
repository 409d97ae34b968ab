// Kestro: opens a raw planetary capture, shows its frames and exports the ticked ones.
#include "kestro_app.h"
#include "qt_seams.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral("3.1"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Views raw planetary captures and exports their frames."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The capture (AVI or SER file) to open."),
                                 QStringLiteral("[file]"));
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
