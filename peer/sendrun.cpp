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

std::shared_ptr<TStepControl> RunStep(TOutbox &outbox, TStreamSender &streams, const std::string &path, TDone done)
{
    auto control = std::make_shared<TStepControl>(streams);
    const std::string name = AnnouncedName(path);
    outbox.Post({{"File_Start|" + name}}, [&outbox, &streams, control, path, name, done](const std::string &error) {
        if (!error.empty())
            return done(error);
        if (control->Canceled())
            return done("Canceled");
        streams.Send(path, [&outbox, control, name, done](const std::string &sent) {
            if (!sent.empty())
                return done(control->Canceled() ? std::string("Canceled") : sent);
            if (control->Canceled())
                return done("Canceled");
            outbox.Post({{"File_End|" + name}}, done);
        });
    });
    return control;
}

} // namespace dz::peer
