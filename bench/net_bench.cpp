// Socket layer figures: what a waiting call costs, and how fast a stream
// moves from SendStream to CaptureStream compared with a plain blocking
// socket copy of the same bytes in the same run.

#include "benchutil.h"
#include "net/generalserver.h"
#include "net/tests/rawpeer.h"

#include <QCoreApplication>

#include <cstring>
#include <future>
#include <thread>
#include <vector>

using namespace dz;
using namespace dz::net;

namespace {

// A component that takes over an accepted socket, as a connection object does.
class Adopter : public TPowersock {
public:
    using TPowersock::AdoptSocket;
    using TPowersock::SetConnected;
};

void WaitCost()
{
    test::RawListener listener;
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = listener.port();
    auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
    sock.Connect();
    test::RawFd peer = accepted.get();
    sock.TimeOut = 5000;
    const double cpu0 = bench::CpuSeconds();
    bench::Stopwatch wall;
    try {
        sock.ReadLn(); // the peer stays silent: the time-out ends it
    } catch (const EAbortError &) {
    }
    const double cpu = bench::CpuSeconds() - cpu0;
    std::printf("wait: ReadLn waiting %.2f s for a silent peer cost %.3f s CPU = %.2f %% of one core\n",
                wall.Seconds(), cpu, 100.0 * cpu / wall.Seconds());
}

double PlainCopy(const std::vector<char> &data, std::vector<char> &into)
{
    test::RawListener listener;
    bench::Stopwatch wall;
    std::thread sender([&] {
        test::RawFd fd = test::RawConnect(listener.port());
        std::size_t done = 0;
        while (done < data.size()) {
            const std::size_t chunk = std::min<std::size_t>(65536, data.size() - done);
            const ssize_t n = ::send(fd.get(), data.data() + done, chunk, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    });
    test::RawFd fd = listener.Accept();
    std::size_t got = 0;
    while (got < into.size()) {
        const ssize_t n = ::recv(fd.get(), into.data() + got, std::min<std::size_t>(65536, into.size() - got), 0);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    sender.join();
    return wall.Seconds();
}

double ComponentCopy(TMemoryStream &source, TMemoryStream &target)
{
    TPowersock listening;
    listening.Port = 0;
    listening.Listen();
    const int port = listening.LocalPort();
    bench::Stopwatch wall;
    std::thread sender([&] {
        // Made on this thread, so its notifications are pumped here.
        TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = port;
        sock.Connect();
        sock.SendStream(source);
        sock.Read(1); // wait for the receiver's word, as the services wait for their reply
        sock.Disconnect();
    });
    // Accept by hand with a plain call, then let a component capture.
    pollfd p {listening.SocketHandle(), POLLIN, 0};
    ::poll(&p, 1, 5000);
    const int fd = ::accept4(listening.SocketHandle(), nullptr, nullptr, SOCK_CLOEXEC);
    Adopter receiver;
    auto sock = std::make_shared<Sock>(fd);
    sock->MarkConnected();
    receiver.AdoptSocket(sock, sockaddr_in {});
    receiver.SetConnected(true);
    receiver.CaptureStream(target, source.Size());
    receiver.Write("!");
    sender.join();
    return wall.Seconds();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t size = argc > 1 ? std::strtoull(argv[1], nullptr, 10) << 20 : std::size_t(1) << 30;
    WaitCost();

    std::vector<char> data(size);
    for (std::size_t i = 0; i < size; i += 4096)
        data[i] = static_cast<char>(i >> 12);
    std::vector<char> into(size);
    const double plain = PlainCopy(data, into);

    TMemoryStream source;
    source.Write(data.data(), static_cast<std::int64_t>(size));
    std::vector<char>().swap(data);
    std::vector<char>().swap(into);
    TMemoryStream target;
    const double component = ComponentCopy(source, target);
    bool same = target.Size() == source.Size();
    source.SetPosition(0);
    target.SetPosition(0);
    std::vector<char> a(1 << 20), b(1 << 20);
    while (same && source.Position() < source.Size()) {
        const auto n = source.Read(a.data(), 1 << 20);
        same = target.Read(b.data(), 1 << 20) == n && std::memcmp(a.data(), b.data(), static_cast<std::size_t>(n)) == 0;
    }

    const double mib = static_cast<double>(size) / (1 << 20);
    std::printf("copy: plain blocking sockets %.0f MiB in %.2f s = %.0f MiB/s\n", mib, plain, mib / plain);
    std::printf("copy: SendStream -> CaptureStream %.0f MiB in %.2f s = %.0f MiB/s (%s)\n", mib, component,
                mib / component, same ? "identical" : "DIFFERENT");
    std::printf("copy: component speed = %.0f %% of the plain copy\n", 100.0 * plain / component);
    return same ? 0 : 1;
}
