#include "closing.h"

#include "net/notify.h"
#include "peer/session.h"

#include <memory>

namespace dz::peer {

std::string SayGoodbye(TPeerSession &session, const std::string &nameBox, const std::string &ipBox,
                       std::chrono::milliseconds limit)
{
    const TOutcome goodbye = session.Core().Goodbye(nameBox, ipBox);
    if (goodbye.send.empty())
        return {};
    auto error = std::make_shared<std::string>();
    auto done = std::make_shared<bool>(false);
    session.Send(goodbye, [error, done](const std::string &e) {
        *error = e;
        *done = true;
    });
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!*done && std::chrono::steady_clock::now() < end) {
        net::Pump();
        net::WaitForActivity(-1, 0, 5);
    }
    if (!*done) {
        session.Outbox().CancelAll();
        return "The goodbye could not be delivered: the other computer does not answer";
    }
    return *error;
}

} // namespace dz::peer
