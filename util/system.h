#pragma once
// This computer's name and address.

#include <string>

namespace dz {

// The host name, whole (Linux names can be longer than 15 characters, and a
// shortened name would not resolve on the peer). Empty when there is none.
std::string GetThisComputerName();

// The first IPv4 address of this host's name in dotted form; when that is a
// loopback address (or the name does not resolve), the first IPv4 address of
// an interface that is up and not loopback; empty when there is none.
std::string LocalAddress();

// The first IPv4 address of a host name through the system's resolver
// (which asks mDNS for ".local" names where the system has it), as dotted
// text; empty when it does not resolve. Blocks while the resolver works.
std::string ResolveIPv4(const std::string &name);

} // namespace dz
