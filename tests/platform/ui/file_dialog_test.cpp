// The dialog seam: filter strings split into their pairs, a script answers in order and
// records what was asked, and without a handler every dialog counts as cancelled.
#include "file_dialog.h"

#include <gtest/gtest.h>

using kestro::ui::askForFile;
using kestro::ui::askForFolder;
using kestro::ui::DialogScript;
using kestro::ui::FileDialogMode;
using kestro::ui::FileDialogRequest;
using kestro::ui::FileFilter;
using kestro::ui::FolderRequest;
using kestro::ui::parseFileFilter;

TEST(FileDialog, FilterStringsSplitIntoPairs)
{
    struct Case {
        const char* filter;
        std::vector<FileFilter> expected;
    };
    const Case cases[] = {
        {"AVI files (*.avi)|*.avi|All Files (*.*)|*.*||",
         {{"AVI files (*.avi)", {"*.avi"}}, {"All Files (*.*)", {"*.*"}}}},
        {"Bitmaps|*.bmp;*.dib||", {{"Bitmaps", {"*.bmp", "*.dib"}}}},
        {"Unterminated|*.fit", {{"Unterminated", {"*.fit"}}}},
        {"Lonely description||", {}},
        {"", {}},
        {"||AVI|*.avi||", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseFileFilter(c.filter), c.expected) << c.filter;
}

TEST(FileDialog, ScriptAnswersInOrderThenCancels)
{
    DialogScript script;
    script.answer("/data/jupiter.avi");
    script.answer(std::nullopt);
    script.answer("/data/out");

    const FileDialogRequest open{FileDialogMode::Open, "", "avi", "", "AVI files (*.avi)|*.avi||"};
    EXPECT_EQ(askForFile(open), "/data/jupiter.avi");
    EXPECT_EQ(askForFile(open), std::nullopt);
    EXPECT_EQ(askForFolder({"Choose a folder", "/data"}), "/data/out");
    EXPECT_EQ(askForFile(open), std::nullopt) << "an empty script cancels";

    EXPECT_EQ(script.fileRequests(), std::vector<FileDialogRequest>(3, open));
    EXPECT_EQ(script.folderRequests(), (std::vector<FolderRequest>{{"Choose a folder", "/data"}}));
}

TEST(FileDialog, WithoutHandlerEveryDialogIsCancelled)
{
    {
        DialogScript script;
        script.answer("/left/over.avi");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(askForFile({FileDialogMode::Save, "", "avi", "x.avi", ""}), std::nullopt);
    EXPECT_EQ(askForFolder({}), std::nullopt);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Save As: no dialog can be shown here; cancelled"), std::string::npos) << err;
    EXPECT_NE(err.find("Browse for Folder"), std::string::npos) << err;
}
