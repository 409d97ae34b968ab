// The seams of the shell's dialogs: filter strings split into their pairs, a script answers in order and
// records what was asked, the FITS answer's folder always ends with a separator, and without a
// handler every dialog counts as cancelled.
#include "dialog_requests.h"

#include <gtest/gtest.h>

using kestro::shell::askForFile;
using kestro::shell::askForFitsExport;
using kestro::shell::askForFolder;
using kestro::shell::DialogScript;
using kestro::shell::FileDialogMode;
using kestro::shell::FileDialogRequest;
using kestro::shell::FileFilter;
using kestro::shell::FitsExportRequest;
using kestro::shell::FolderRequest;
using kestro::shell::parseFileFilter;

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

    FileDialogRequest open;
    open.defaultExtension = "avi";
    open.filter = "AVI files (*.avi)|*.avi||";
    EXPECT_EQ(askForFile(open), "/data/jupiter.avi");
    EXPECT_EQ(askForFile(open), std::nullopt);
    EXPECT_EQ(askForFolder({"Choose a folder", "/data"}), "/data/out");
    EXPECT_EQ(askForFile(open), std::nullopt) << "an empty script cancels";

    EXPECT_EQ(script.fileRequests(), std::vector<FileDialogRequest>(3, open));
    EXPECT_EQ(script.folderRequests(), (std::vector<FolderRequest>{{"Choose a folder", "/data"}}));
}

TEST(FileDialog, FitsAnswersHaveTheirOwnQueue)
{
    DialogScript script;
    script.answer("/data/out");
    script.answerFits(FitsExportRequest{5, "m42", "/data/fits/"});
    script.answerFits(std::nullopt);

    const FitsExportRequest proposed{1, "m42", "/videos/"};
    EXPECT_EQ(askForFitsExport(proposed), (FitsExportRequest{5, "m42", "/data/fits/"}));
    EXPECT_EQ(askForFolder({"Choose a folder", "/data"}), "/data/out") << "a FITS answer is not a path";
    EXPECT_EQ(askForFitsExport(proposed), std::nullopt);
    EXPECT_EQ(askForFitsExport(proposed), std::nullopt) << "an empty script cancels";
    EXPECT_EQ(script.fitsRequests(), std::vector<FitsExportRequest>(3, proposed));
    EXPECT_EQ(script.folderRequests().size(), 1u);
}

TEST(FileDialog, FitsFolderAlwaysEndsWithASeparator)
{
    struct Case {
        const char* answered;
        const char* received;
    };
    const Case cases[] = {
        {"/data/fits", "/data/fits/"},
        {"/data/fits/", "/data/fits/"},
        {"/", "/"},
        {"", ""}, // the current folder: the prefix alone names the files
    };
    DialogScript script;
    for (const Case& c : cases)
        script.answerFits(FitsExportRequest{3, "p", c.answered});
    for (const Case& c : cases)
        EXPECT_EQ(askForFitsExport({}), (FitsExportRequest{3, "p", c.received})) << c.answered;
}

TEST(FileDialog, ScriptPutsThePreviousFitsHandlerBack)
{
    int nAsked = 0;
    const kestro::shell::FitsExportSeam::Override mine(kestro::shell::fitsExportSeam(),
                                                       [&nAsked](const FitsExportRequest& r) {
                                                           ++nAsked;
                                                           return std::optional<FitsExportRequest>(r);
                                                       });
    {
        DialogScript script;
        EXPECT_EQ(askForFitsExport({2, "a", "/b/"}), std::nullopt);
    }
    EXPECT_EQ(askForFitsExport({2, "a", "/b/"}), (FitsExportRequest{2, "a", "/b/"}));
    EXPECT_EQ(nAsked, 1);
}

TEST(FileDialog, WithoutHandlerEveryDialogIsCancelled)
{
    {
        DialogScript script;
        script.answer("/left/over.avi");
        script.answerFits(FitsExportRequest{});
    }
    testing::internal::CaptureStderr();
    FileDialogRequest save;
    save.mode = FileDialogMode::Save;
    save.defaultExtension = "avi";
    save.fileName = "x.avi";
    EXPECT_EQ(askForFile(save), std::nullopt);
    EXPECT_EQ(askForFolder({}), std::nullopt);
    EXPECT_EQ(askForFitsExport({}), std::nullopt);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Save As: no dialog can be shown here; cancelled"), std::string::npos) << err;
    EXPECT_NE(err.find("Browse for Folder"), std::string::npos) << err;
    EXPECT_NE(err.find("Export Fits Frames: no dialog can be shown here; cancelled"), std::string::npos) << err;
}
