#include "system.h"

#include "codepage.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

namespace dz {
namespace {

std::string Dotted(in_addr addr)
{
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, buf, sizeof buf);
    return buf;
}

bool IsLoopback(in_addr addr)
{
    return (ntohl(addr.s_addr) >> 24) == 127;
}

std::string HostName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

} // namespace

std::string GetThisComputerName()
{
    return Utf8ToCp1251(HostName());
}

std::string ResolveIPv4(const std::string &name)
{
    if (name.empty())
        return {};
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result)
        return {};
    const in_addr first = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr;
    ::freeaddrinfo(result);
    return Dotted(first);
}

std::string LocalAddress()
{
    const std::string name = HostName();
    if (!name.empty()) {
        addrinfo hints {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) == 0 && result) {
            const in_addr first = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr;
            ::freeaddrinfo(result);
            if (!IsLoopback(first))
                return Dotted(first);
        }
    }
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    std::string found;
    for (ifaddrs *ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK))
            continue;
        const in_addr addr = reinterpret_cast<sockaddr_in *>(ifa->ifa_addr)->sin_addr;
        if (IsLoopback(addr))
            continue;
        found = Dotted(addr);
        break;
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace dz
