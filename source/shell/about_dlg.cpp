#include "about_dlg.h"

#include "icons.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About Kestro"));

    auto* pIcon = new QLabel(this);
    pIcon->setPixmap(LoadAppIcon().pixmap(32, 32));
    auto* pVersion = new QLabel(QStringLiteral("Kestro Version 3.1"), this);
    pVersion->setObjectName(QStringLiteral("version"));
    auto* pPurpose = new QLabel(QStringLiteral("Frames of raw planetary captures, viewed and exported"), this);
    pPurpose->setObjectName(QStringLiteral("purpose"));

    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setObjectName(QStringLiteral("ok"));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* pHome = new QPushButton(QString::fromLatin1(kHomePage), this);
    pHome->setObjectName(QStringLiteral("homePage"));
    pHome->setAutoDefault(false);
    connect(pHome, &QPushButton::clicked, this, &CAboutDlg::OnHomePage);

    auto* pLayout = new QGridLayout(this);
    pLayout->addWidget(pIcon, 0, 0, 2, 1, Qt::AlignTop);
    pLayout->addWidget(pVersion, 0, 1);
    pLayout->addWidget(pPurpose, 1, 1);
    pLayout->addWidget(pOk, 0, 2, Qt::AlignTop);
    pLayout->addWidget(pHome, 2, 1, Qt::AlignLeft);
    pLayout->setColumnStretch(1, 1);
    setSizeGripEnabled(false);
    setFixedSize(sizeHint());
}

void CAboutDlg::OnHomePage()
{
    // Whether a browser could be started does not matter here; the dialog stays open.
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage)));
}
