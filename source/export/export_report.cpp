#include "export_report.h"

#include "list_text.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

using kestro::exports::Format;
namespace messages = kestro::exports::messages;

void ExportReport::LeaveOut(std::int32_t nFrame, const std::string& strReason)
{
    if (nFramesLeftOut == 0)
        strLeftOutReason = strReason;
    ++nFramesLeftOut;
    if (leftOut.size() < kListedLeftOut)
        leftOut.push_back(nFrame);
}

void ExportReport::Fail(const messages::ExportMessage& m, const std::string& strText)
{
    if (!failure)
        failure = kestro::ui::Message{strText, m.caption, m.icon};
}

void ExportReport::Stop(std::int32_t nFrame)
{
    bStopped = true;
    nStoppedBefore = nFrame;
    // Which files it completed is known only once the engine has put them in place or not; the
    // message is worded from the files listed then (DescribeExport).
    Fail(messages::kStopped, "");
}

namespace {

std::string ListFrames(const ExportReport& r)
{
    std::vector<std::string> numbers;
    for (std::int32_t nFrame : r.leftOut)
        numbers.push_back(std::to_string(nFrame));
    const std::string list =
        kestro::exports::ListFirst(numbers, numbers.size(), static_cast<std::size_t>(std::max(r.nFramesLeftOut, 0)),
                                   kestro::exports::SentenceWording());
    return (r.leftOut.size() == 1 && r.nFramesLeftOut == 1 ? "frame " : "frames ") + list;
}

} // namespace

std::optional<kestro::ui::Message> DescribeExport(const ExportReport& r)
{
    std::optional<kestro::ui::Message> m = r.failure;
    if (r.bStopped && m && m->caption == messages::kStopped.caption)
        m->text = Format(messages::kStopped.text, static_cast<int>(r.nStoppedBefore),
                         kestro::exports::KeptFiles(static_cast<std::int64_t>(r.files.size()), "completed").c_str());
    if (r.nFramesLeftOut > 0) {
        const std::string capture = r.strCapture.empty() ? std::string("the capture") : r.strCapture;
        std::string text =
            Format(messages::kLeftOut.text, kestro::exports::Count(r.nFramesLeftOut, "frame", "frames").c_str(),
                   capture.c_str(), r.nFramesLeftOut == 1 ? "was" : "were", ListFrames(r).c_str());
        if (!r.strLeftOutReason.empty())
            text += Format("\nFrame %d: %s", static_cast<int>(r.leftOut.front()), r.strLeftOutReason.c_str());
        if (m)
            m->text += "\n\n" + text;
        else
            m = kestro::ui::Message{text, messages::kLeftOut.caption, messages::kLeftOut.icon};
    }
    return m;
}

bool FinishExport(const ExportReport& report, bool bTellUser)
{
    if (bTellUser) {
        if (const std::optional<kestro::ui::Message> m = DescribeExport(report))
            kestro::ui::showMessage(m->text, m->caption, m->icon, m->buttons);
    }
    return report.Complete();
}

std::string kestro::exports::Count(std::int64_t n, const char* singular, const char* plural)
{
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string kestro::exports::KeptFiles(std::int64_t n, const char* done)
{
    if (n == 0)
        return std::string("no file was ") + done + " before it";
    if (n == 1)
        return std::string("the one file ") + done + " before it is kept";
    return Format("the %lld files %s before it are kept", static_cast<long long>(n), done);
}

std::string kestro::exports::DescribeSystemError(int nError)
{
    switch (nError) {
    case ENOSPC:
    case EDQUOT: return "the disk is full";
    case ENOENT: return "the folder does not exist";
    case ENOTDIR: return "a part of the path is not a folder";
    case EACCES:
    case EPERM: return "permission to write there was refused";
    case EROFS: return "the disk is read-only";
    case EFBIG: return "the file would grow larger than the file system or the file format allows";
    case EISDIR: return "a folder of that name is in the way";
    case ENAMETOOLONG: return "the name is too long";
    case EIO: return "the disk reported an input/output error";
    case 0: return "the reason is unknown";
    // Exports may run side by side; strerror's buffer is shared between threads.
    default: return std::system_category().message(nError);
    }
}
