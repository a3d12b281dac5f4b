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

void RunStep(TOutbox &outbox, TStreamSender &streams, const std::string &path, TDone done)
{
    const std::string name = AnnouncedName(path);
    outbox.Post({{"File_Start|" + name}}, [&outbox, &streams, path, name, done](const std::string &error) {
        if (!error.empty())
            return done(error);
        streams.Send(path, [&outbox, name, done](const std::string &sent) {
            if (!sent.empty())
                return done(sent);
            outbox.Post({{"File_End|" + name}}, done);
        });
    });
}

} // namespace dz::peer
