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

} // namespace

MessageSeam& messageSeam()
{
    static MessageSeam seam(toStandardError);
    return seam;
}

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

Answer showMessage(const Message& message) { return messageSeam().ask(message); }

MessageHandler setMessageHandler(MessageHandler handler) { return messageSeam().replace(std::move(handler)); }

MessageRecorder::MessageRecorder()
    : m_recording(messageSeam(), [this](const Message& m) {
          m_messages.push_back(m);
          return cautiousAnswer(m.buttons);
      })
{
}

MessageRecorder::MessageRecorder(Answer answer)
    : m_recording(messageSeam(), [this, answer](const Message& m) {
          m_messages.push_back(m);
          return answer;
      })
{
}

MessageRecorder::~MessageRecorder() = default;

} // namespace kestro::ui
