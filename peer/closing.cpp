#include "closing.h"

#include "peer/session.h"

#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>

namespace dz::peer {

bool SayGoodbye(TPeerSession &session, const std::string &nameBox, const std::string &ipBox,
                std::chrono::milliseconds limit, QObject &context, std::function<void(const std::string &error)> done)
{
    const TOutcome goodbye = session.Core().Goodbye(nameBox, ipBox);
    if (goodbye.send.empty()) {
        done({});
        return false;
    }
    // Whichever comes first, the answer or the limit, ends the wait.
    auto finish = std::make_shared<std::function<void(const std::string &)>>(std::move(done));
    const QPointer<QObject> alive(&context);
    session.Send(goodbye, [finish, alive](const std::string &error) {
        if (alive && *finish)
            std::exchange(*finish, {})(error);
    });
    QTimer::singleShot(limit, &context, [finish, &session] {
        if (!*finish)
            return;
        session.Outbox().CancelAll();
        std::exchange(*finish, {})("The goodbye could not be delivered: the other computer does not answer");
    });
    return true;
}

} // namespace dz::peer
