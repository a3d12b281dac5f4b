#include "sendrun.h"

#include "util/codepage.h"
#include "util/files.h"

namespace dz::peer {

TNextStep NextStep(int rows, int position, bool nextChecked)
{
    if (position >= rows - 1)
        return {TNextStep::Kind::End};
    return {nextChecked ? TNextStep::Kind::Send : TNextStep::Kind::Skip, position + 1};
}

std::string AnnouncedName(const std::string &path)
{
    const std::string name = FileNameOf(path);
    return FileNameToCp1251(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

void TStepControl::Cancel()
{
    canceled_ = true;
    streams_.Cancel();
}

namespace {

// 1234567890 -> "1 234 567 890".
std::string Grouped(std::int64_t n)
{
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), " ");
    return digits;
}

constexpr std::int64_t kOriginalLimit = 2'147'483'647LL;
constexpr std::int64_t kFieldLimit = 9'999'999'999LL;

} // namespace

std::string RefusedSize(const std::string &name, std::int64_t size, const TCapabilities &caps)
{
    if (size > kFieldLimit)
        return "Файл «" + name + "» не отправлен: его размер " + Grouped(size) + " байт больше " +
               Grouped(kFieldLimit) + " байт, самого большого размера, какой умеет передать программа.";
    if (size > kOriginalLimit && !caps.bigFiles)
        return "Файл «" + name + "» не отправлен: его размер " + Grouped(size) + " байт больше " +
               Grouped(kOriginalLimit) + " байт, а программа на другом компьютере принимает файлы только до " +
               "этого размера (она не сообщила, что принимает большие).";
    return {};
}

std::shared_ptr<TStepControl> RunStep(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
                                      const std::string &path, TDone done)
{
    auto control = std::make_shared<TStepControl>(streams);
    const std::string name = AnnouncedName(path);
    // Nothing reaches the peer for a file that cannot be opened or is too
    // large for it; then the announcement, the contents, the end.
    streams.Open(path, [&outbox, &streams, &core, control, path, name, done](const std::string &error,
                                                                            std::int64_t size) {
        if (!error.empty())
            return done(error);
        if (const std::string refused = RefusedSize(FileNameOf(path), size, core.PeerCapabilities());
            !refused.empty() || control->Canceled()) {
            streams.Close();
            return done(refused.empty() ? std::string("Canceled") : refused);
        }
        outbox.Post({{"File_Start|" + name}}, [&outbox, &streams, control, name, done](const std::string &sent) {
            if (!sent.empty() || control->Canceled()) {
                streams.Close();
                return done(sent.empty() ? std::string("Canceled") : sent);
            }
            streams.Send([&outbox, control, name, done](const std::string &streamed) {
                if (!streamed.empty())
                    return done(control->Canceled() ? std::string("Canceled") : streamed);
                if (control->Canceled())
                    return done("Canceled");
                outbox.Post({{"File_End|" + name}}, done);
            });
        });
    });
    return control;
}

} // namespace dz::peer
