// Service figures: messages per second from one client to one server, with
// the CPU time of each side, and 1 GiB through the stream service beside
// netcat moving the same bytes, with the receiving process's peak memory.
// The server runs in a child process so that each side is measured alone.

#include "benchutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "services/wire.h"

#include <poll.h>

#include <QCoreApplication>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace dz;

namespace {

struct Child {
    pid_t pid;
    int port;
    int fromChild; // the child writes a byte per stream received
    int toChild;   // closing it tells the child to end
};

// Runs the server loop of a fresh process (started by StartServer).
template <typename Server>
int Serve(int up, int down)
{
    int argc = 1;
    char name[] = "server";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    Server server;
    server.Port = 0;
    if constexpr (std::is_same_v<Server, services::TNMStrmServ>) {
        server.OnMSG = [&](services::TNMStrmServ *, const std::string &, net::TStream &strm) {
            const char ok = strm.Size() > 0 ? '1' : '0';
            [[maybe_unused]] auto n = ::write(up, &ok, 1);
        };
    } else {
        server.OnMSG = [](services::TNMMSGServ *, const std::string &, const std::string &) {};
    }
    server.Loaded();
    const int port = server.LocalPort();
    [[maybe_unused]] auto n = ::write(up, &port, sizeof port);
    for (;;) {
        pollfd p {down, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0)
            break; // the parent has closed its end
        net::Pump();
        net::WaitForActivity(down, POLLIN, 2);
    }
    return 0;
}

std::string self;

// Starts a server in a fresh process ("msg" or "stream"); returns its port.
Child StartServer(const char *kind)
{
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        std::exit(2);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(up[0]);
        ::close(down[1]);
        const std::string upFd = std::to_string(up[1]), downFd = std::to_string(down[0]);
        ::execl(self.c_str(), self.c_str(), "serve", kind, upFd.c_str(), downFd.c_str(), nullptr);
        std::_Exit(3);
    }
    ::close(up[1]);
    ::close(down[0]);
    int port = 0;
    if (::read(up[0], &port, sizeof port) != sizeof port)
        std::exit(2);
    return {pid, port, up[0], down[1]};
}

void StopServer(const Child &child)
{
    ::close(child.toChild);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
}

void Messages(int count)
{
    Child child = StartServer("msg");
    services::TNMMsg client;
    client.Host = "127.0.0.1";
    client.Port = child.port;
    client.FromName = "BENCH";
    const double cpu0 = bench::CpuSeconds();
    bench::Stopwatch wall;
    int ok = 0;
    for (int i = 0; i < count; ++i)
        ok += client.PostText("MSG|message number " + std::to_string(i)) == services::kReply;
    const double seconds = wall.Seconds();
    const double clientCpu = bench::CpuSeconds() - cpu0;
    StopServer(child);
    const double serverCpu = bench::CpuSeconds(RUSAGE_CHILDREN);
    std::printf("messages: %d of %d acknowledged in %.2f s = %.0f messages/s\n", ok, count, seconds, count / seconds);
    std::printf("messages: CPU per message: client %.0f us, server %.0f us\n", 1e6 * clientCpu / count,
                1e6 * serverCpu / count);
}

double Netcat(long long bytes)
{
    const int port = 20000 + static_cast<int>(::getpid() % 20000);
    const std::string listen = "nc -l 127.0.0.1 " + std::to_string(port) + " > /dev/null &";
    if (std::system(listen.c_str()) != 0)
        return -1;
    ::usleep(300000);
    bench::Stopwatch wall;
    const std::string send = "head -c " + std::to_string(bytes) + " /dev/zero | nc -N 127.0.0.1 " +
                             std::to_string(port) + " > /dev/null";
    if (std::system(send.c_str()) != 0)
        return -1;
    return wall.Seconds();
}

void Stream(long long mib)
{
    const long long bytes = mib << 20;
    const double nc = Netcat(bytes);

    Child child = StartServer("stream");
    services::TNMStrm client;
    client.Host = "127.0.0.1";
    client.Port = child.port;
    client.FromName = "BENCH";
    net::TMemoryStream stream;
    {
        std::string block(1 << 20, 'z');
        for (long long i = 0; i < mib; ++i)
            stream.Write(block.data(), static_cast<std::int64_t>(block.size()));
    }
    bench::Stopwatch wall;
    const std::string reply = client.PostStream(stream);
    char delivered = 0;
    [[maybe_unused]] auto n = ::read(child.fromChild, &delivered, 1); // the server's handler has the stream
    const double seconds = wall.Seconds();
    StopServer(child);
    const long rssKiB = bench::MaxRssKiB(RUSAGE_CHILDREN);
    std::printf("stream: CPU: sender %.2f s, receiver %.2f s\n", bench::CpuSeconds(), bench::CpuSeconds(RUSAGE_CHILDREN));
    std::printf("stream: %lld MiB PostStream -> OnMSG in %.2f s = %.0f MiB/s (%s)\n", mib, seconds, mib / seconds,
                reply == services::kReply && delivered == '1' ? "delivered" : "NOT DELIVERED");
    if (nc > 0)
        std::printf("stream: netcat moved the same bytes in %.2f s = %.0f MiB/s; the service took %.2f times as long\n",
                    nc, mib / nc, seconds / nc);
    std::printf("stream: receiving process peak memory %.0f MiB for a %lld MiB stream (%.3f times)\n",
                rssKiB / 1024.0, mib, rssKiB / 1024.0 / static_cast<double>(mib));
}

} // namespace

int main(int argc, char **argv)
{
    self = "/proc/self/exe";
    char exe[4096];
    if (const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1); n > 0)
        self.assign(exe, static_cast<std::size_t>(n));
    const std::string what = argc > 1 ? argv[1] : "all";
    if (what == "serve" && argc > 4) {
        const int up = std::atoi(argv[3]), down = std::atoi(argv[4]);
        return std::string(argv[2]) == "stream" ? Serve<services::TNMStrmServ>(up, down)
                                                : Serve<services::TNMMSGServ>(up, down);
    }
    const long long mib = argc > 2 ? std::atoll(argv[2]) : 1024;
    const int count = argc > 3 ? std::atoi(argv[3]) : 2000;
    // The servers are forked before this process makes its application object.
    if (what == "msg" || what == "all") {
        if (pid_t pid = ::fork(); pid == 0) {
            QCoreApplication app(argc, argv);
            Messages(count);
            std::fflush(stdout);
            std::_Exit(0);
        } else {
            ::waitpid(pid, nullptr, 0);
        }
    }
    if (what == "stream" || what == "all") {
        if (pid_t pid = ::fork(); pid == 0) {
            QCoreApplication app(argc, argv);
            Stream(mib);
            std::fflush(stdout);
            std::_Exit(0);
        } else {
            ::waitpid(pid, nullptr, 0);
        }
    }
    return 0;
}
