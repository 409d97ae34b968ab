// The About box: the program's name and version, a line on what it is for, OK, and a button
// that opens the home page in the browser.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kHomePage = "https://kestro.example.org/";

    explicit CAboutDlg(QWidget* pParent = nullptr);

    void OnHomePage();
};
