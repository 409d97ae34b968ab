#include "message_box.h"

#include <cstdio>
#include <utility>

namespace kestro::ui {

namespace {

Answer toStandardError(const Message& m)
{
    std::fprintf(stderr, "%s: %s\n", m.caption.c_str(), m.text.c_str());
    std::fflush(stderr);
    return cautiousAnswer(m.buttons);
}

// Messages come from the interface thread only, like everything else the core does.
MessageHandler& installed()
{
    static MessageHandler handler;
    return handler;
}

} // namespace

Answer cautiousAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    case Buttons::OkCancel:
    case Buttons::YesNoCancel: break;
    }
    return Answer::Cancel;
}

Answer showMessage(std::string text, std::string caption, Icon icon, Buttons buttons)
{
    return showMessage(Message{std::move(text), std::move(caption), icon, buttons});
}

Answer showMessage(const Message& message)
{
    const MessageHandler& handler = installed();
    return handler ? handler(message) : toStandardError(message);
}

MessageHandler setMessageHandler(MessageHandler handler) { return std::exchange(installed(), std::move(handler)); }

MessageRecorder::MessageRecorder() { install(false, Answer::Ok); }

MessageRecorder::MessageRecorder(Answer answer) { install(true, answer); }

MessageRecorder::~MessageRecorder() { setMessageHandler(std::move(m_previous)); }

void MessageRecorder::install(bool fixedAnswer, Answer answer)
{
    m_previous = setMessageHandler([this, fixedAnswer, answer](const Message& m) {
        m_messages.push_back(m);
        return fixedAnswer ? answer : cautiousAnswer(m.buttons);
    });
}

} // namespace kestro::ui
