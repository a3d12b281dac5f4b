#pragma once
// The last words of a copy that closes: the goodbye ("By="), when the core
// says one is due, and a bounded wait for it to go out. A send run must be
// ended first (its "Send_End" goes before the goodbye).

#include <chrono>
#include <string>

namespace dz::peer {

class TPeerSession;

// nameBox, ipBox: the remote boxes as they stand. Waits at most limit,
// serving the network layer's notifications on this thread meanwhile (a
// peer in this same process accepts on it); after that everything the
// outbox still holds is cut. Returns "" when the goodbye went or none was
// due, else what went wrong (UTF-8). Owner thread only.
std::string SayGoodbye(TPeerSession &session, const std::string &nameBox, const std::string &ipBox,
                       std::chrono::milliseconds limit);

} // namespace dz::peer
