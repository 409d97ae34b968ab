// Connects the core's seams to Qt: message boxes (QMessageBox without a parent), the file
// dialogs (owned by the main window), the folder picker, and the Export Fits Frames, Check best
// and Go to Frame dialogs. Only the program installs these; tests keep their recorders and scripts, so
// nothing ever waits for a person there.
#pragma once

#include "dialog_requests.h"

#include <cstdint>
#include <optional>
#include <string>

void InstallQtSeams();

// The handlers behind the file, folder, FITS, Check best and Go to Frame seams, for tests that
// drive the real dialogs.
std::optional<std::string> ShowFileDialog(const kestro::shell::FileDialogRequest& request);
std::optional<std::string> ShowFolderBrowser(const kestro::shell::FolderRequest& request);
std::optional<kestro::shell::FitsExportRequest> ShowExportFitsDialog(const kestro::shell::FitsExportRequest& request);
std::optional<kestro::shell::BestFramesRequest> ShowBestFramesDialog(const kestro::shell::BestFramesRequest& request);
std::optional<std::int32_t> ShowGoToFrameDialog(const kestro::shell::NumberRequest& request);
