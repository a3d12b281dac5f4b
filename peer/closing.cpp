#include "closing.h"

#include "peer/session.h"

#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>

namespace dz::peer {

bool SayGoodbye(TPeerSession &session, const std::string &nameBox, const std::string &ipBox,
                std::chrono::milliseconds limit, QObject &context, TGoodbyeDone done)
{
    const TOutcome goodbye = session.Core().Goodbye(nameBox, ipBox);
    if (goodbye.send.empty()) {
        done(true, {});
        return false;
    }
    // Whichever comes first, the answer or the limit, ends the wait.
    auto finish = std::make_shared<TGoodbyeDone>(std::move(done));
    const QPointer<QObject> alive(&context);
    session.Send(goodbye, [finish, alive](const std::string &error) {
        if (alive && *finish)
            std::exchange(*finish, {})(true, error);
    });
    QTimer::singleShot(limit, &context, [finish, &session] {
        if (!*finish)
            return;
        session.Outbox().CancelAll();
        std::exchange(*finish, {})(false, {});
    });
    return true;
}

} // namespace dz::peer
