// Connects the core's seams to Qt: message boxes (QMessageBox without a parent), the file
// dialogs (owned by the main window) and the folder picker. Only the program installs these;
// tests keep their recorders and scripts, so nothing ever waits for a person there.
#pragma once

#include "file_dialog.h"

#include <optional>
#include <string>

void InstallQtSeams();

// The handler behind the folder seam, for tests that drive the real picker.
std::optional<std::string> ShowFolderBrowser(const kestro::ui::FolderRequest& request);
