// The message-box seam. Code that must not depend on the window system (the video source,
// the export engines) calls showMessage exactly where the user is to be told something.
// The program installs a handler that shows a real message box; tests install a
// MessageRecorder; without a handler the message goes to standard error as
// "caption: text", so tools and headless runs never block.
#pragma once

#include "dialog_seam.h"

#include <string>
#include <vector>

namespace kestro::ui {

enum class Icon { None, Information, Warning, Error, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

struct Message {
    std::string text;
    std::string caption;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    // What the buttons say, in the order `buttons` names them (Yes, No, Cancel), where the
    // standard words would not tell the choices apart ("Replace and remove the rest",
    // "Replace", "Cancel"); empty: the standard words. The answer is still Yes, No or Cancel.
    std::vector<std::string> buttonTexts{};

    bool operator==(const Message&) const = default;
};

using MessageSeam = DialogSeam<Message, Answer>;
using MessageHandler = MessageSeam::Handler;

// The seam every message goes through; its fallback writes to standard error.
MessageSeam& messageSeam();

// Shows the message through the installed handler and returns the button pressed.
Answer showMessage(std::string text, std::string caption, Icon icon = Icon::None, Buttons buttons = Buttons::Ok);
// The same for a message made beforehand, with its own button texts if it has them.
Answer showMessage(const Message& message);

// Installs a handler and returns the one it replaces; an empty handler brings back the
// standard-error default. The same as messageSeam().replace, for the tools that install theirs.
MessageHandler setMessageHandler(MessageHandler handler);

// The answer a person who cannot be asked gives: the button that goes on without changing
// anything (OK, Cancel or No). The standard-error default answers with it.
Answer cautiousAnswer(Buttons buttons);

// Records every message shown while it lives, answering each with a fixed answer (by
// default the cautious one), and puts the previous handler back when it goes.
class MessageRecorder {
public:
    MessageRecorder();
    explicit MessageRecorder(Answer answer);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const std::vector<Message>& messages() const { return m_messages; }
    void clear() { m_messages.clear(); }

private:
    std::vector<Message> m_messages;
    MessageSeam::Override m_recording;
};

} // namespace kestro::ui
