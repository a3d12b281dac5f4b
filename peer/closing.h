#pragma once
// The last words of a copy that closes: the goodbye ("By="), when the core
// says one is due, and a bounded wait for it to go out, without waiting on
// the owner thread (which goes on serving its events). A send run must be
// ended first (its "Send_End" goes before the goodbye).

#include <QObject>

#include <chrono>
#include <functional>
#include <string>

namespace dz::peer {

class TPeerSession;

// Says the goodbye for the remote boxes as they stand (nameBox, ipBox).
// done runs once on the owner thread: at once when no goodbye is due, when
// the peer answered it, or after limit (answered false), when everything
// the outbox still holds is cut. error: what went wrong sending it (UTF-8),
// "" when all is well. context: done is dropped when it is gone. Returns
// whether a goodbye is on its way.
using TGoodbyeDone = std::function<void(bool answered, const std::string &error)>;
bool SayGoodbye(TPeerSession &session, const std::string &nameBox, const std::string &ipBox,
                std::chrono::milliseconds limit, QObject &context, TGoodbyeDone done);

} // namespace dz::peer
