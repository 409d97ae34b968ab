// Connects the core's seams to Qt: message boxes (QMessageBox without a parent) and the file
// and folder dialogs (owned by the main window). Only the program installs these; tests keep
// their recorders and scripts, so nothing ever waits for a person there.
#pragma once

void InstallQtSeams();
