// The message-box seam: a recorder sees every message and gives the handler back; without a
// handler a message goes to standard error as "caption: text" and nothing waits for a person.
#include "message_box.h"

#include <gtest/gtest.h>

using kestro::ui::Answer;
using kestro::ui::Buttons;
using kestro::ui::Icon;
using kestro::ui::Message;
using kestro::ui::MessageRecorder;
using kestro::ui::showMessage;

TEST(MessageBox, RecorderSeesEveryMessageAndAnswers)
{
    MessageRecorder recorder;
    EXPECT_EQ(showMessage("Unable to open a.avi", "AVIFileOpen"), Answer::Ok);
    EXPECT_EQ(showMessage("Overwrite?", "Save", Icon::Warning, Buttons::YesNo), Answer::No);
    EXPECT_EQ(showMessage("Go on?", "Export", Icon::Question, Buttons::OkCancel), Answer::Cancel);
    const std::vector<Message> expected{
        {"Unable to open a.avi", "AVIFileOpen", Icon::None, Buttons::Ok},
        {"Overwrite?", "Save", Icon::Warning, Buttons::YesNo},
        {"Go on?", "Export", Icon::Question, Buttons::OkCancel},
    };
    EXPECT_EQ(recorder.messages(), expected);

    MessageRecorder yes(Answer::Yes);
    EXPECT_EQ(showMessage("Overwrite?", "Save", Icon::Warning, Buttons::YesNo), Answer::Yes);
    EXPECT_EQ(yes.messages().size(), 1u);
    EXPECT_EQ(recorder.messages().size(), 3u) << "only the newest recorder listens";
}

TEST(MessageBox, RecordersNestAndRestoreTheDefault)
{
    {
        MessageRecorder outer;
        {
            MessageRecorder inner;
            showMessage("one", "A");
        }
        showMessage("two", "B");
        ASSERT_EQ(outer.messages().size(), 1u);
        EXPECT_EQ(outer.messages()[0].text, "two");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(showMessage("Image width = 322 is not a multiplum of 4.\nReverting to colour",
                          "Image dimension not supported in greyscale"),
              Answer::Ok);
    EXPECT_EQ(showMessage("Overwrite?", "Save", Icon::Warning, Buttons::YesNoCancel), Answer::Cancel);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Image dimension not supported in greyscale: Image width = 322 is not a multiplum of 4.\n"
              "Reverting to colour\n"
              "Save: Overwrite?\n");
}

TEST(MessageBox, InstalledHandlerIsUsedUntilReplaced)
{
    int calls = 0;
    auto previous = kestro::ui::setMessageHandler([&](const Message&) {
        ++calls;
        return Answer::Yes;
    });
    EXPECT_FALSE(previous) << "the default is no handler";
    EXPECT_EQ(showMessage("x", "y", Icon::None, Buttons::YesNo), Answer::Yes);
    EXPECT_EQ(calls, 1);
    kestro::ui::setMessageHandler(nullptr);
    testing::internal::CaptureStderr();
    showMessage("x", "y");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "y: x\n");
    EXPECT_EQ(calls, 1);
}
