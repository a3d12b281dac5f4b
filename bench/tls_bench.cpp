// TLS links against the clear link, in the same run, over loopback: one
// large file on one connection, then many small files on a connection each
// (as the stream service carries them; TLS then resumes its session). Each
// side is a process of its own and reports its time, CPU and peak memory.
//
//   tls_bench [MiB] [files] [KiB per file]   (default 1024 1000 10)
//
// Says whether the kernel encrypts (kTLS) or the user-space path is taken.

#include "bench/benchutil.h"
#include "net/identity.h"
#include "net/tls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <string>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace dz;

namespace {

[[noreturn]] void Die(const std::string &what)
{
    std::fprintf(stderr, "tls_bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::_Exit(1);
}

struct Side {
    double seconds = 0, cpu = 0;
    long rssKiB = 0;
    int resumed = 0;
};

// The clear link or the TLS one, the same calls for both.
class Conn {
public:
    Conn(int fd, net::TTlsContext *context, const std::string &expect, const std::string &sessionKey)
        : fd_(fd)
    {
        if (context) {
            link_ = std::make_unique<net::TTlsLink>(
                *context, fd, net::ExpectFingerprint(expect), sessionKey);
            link_->Handshake();
        }
    }
    ~Conn()
    {
        link_.reset();
        ::close(fd_);
    }
    bool Resumed() const { return link_ && link_->Resumed(); }
    bool Kernel() const { return link_ && link_->KernelSend(); }
    void Write(const void *data, std::size_t n)
    {
        if (link_)
            return link_->WriteAll(static_cast<const char *>(data), n);
        const char *p = static_cast<const char *>(data);
        while (n > 0) {
            const ssize_t k = ::send(fd_, p, n, MSG_NOSIGNAL);
            if (k <= 0)
                Die("send");
            p += k;
            n -= static_cast<std::size_t>(k);
        }
    }
    void SendFile(int file, std::int64_t size)
    {
        if (link_)
            return link_->SendFile(file, 0, size);
        off_t offset = 0;
        while (offset < size) {
            const ssize_t k = ::sendfile(fd_, file, &offset, static_cast<std::size_t>(size - offset));
            if (k <= 0)
                Die("sendfile");
        }
    }
    std::size_t ReadSome(char *buffer, std::size_t most)
    {
        if (link_)
            return link_->ReadSome(buffer, most);
        const ssize_t k = ::recv(fd_, buffer, most, 0);
        if (k < 0)
            Die("recv");
        return static_cast<std::size_t>(k);
    }
    void ReadExact(void *buffer, std::size_t n)
    {
        char *p = static_cast<char *>(buffer);
        while (n > 0) {
            const std::size_t k = ReadSome(p, n);
            if (k == 0)
                Die("closed early");
            p += k;
            n -= k;
        }
    }

private:
    int fd_;
    std::unique_ptr<net::TTlsLink> link_;
};

// The receiver: accepts `count` connections one after the other; each
// brings an 8-byte size and the bytes, and gets one byte back.
Side Receive(int listener, int count, net::TTlsContext *context, const std::string &expect)
{
    bench::Stopwatch clock;
    const double cpu0 = bench::CpuSeconds();
    std::vector<char> block(std::size_t {1} << 20);
    Side side;
    for (int i = 0; i < count; ++i) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            Die("accept");
        Conn conn(fd, context, expect, {});
        side.resumed += conn.Resumed();
        std::int64_t size = 0;
        conn.ReadExact(&size, sizeof size);
        while (size > 0) {
            const std::size_t k = conn.ReadSome(block.data(), std::min<std::size_t>(block.size(), static_cast<std::size_t>(size)));
            if (k == 0)
                Die("closed early");
            size -= static_cast<std::int64_t>(k);
        }
        conn.Write("k", 1);
    }
    side.seconds = clock.Seconds();
    side.cpu = bench::CpuSeconds() - cpu0;
    side.rssKiB = dz::bench::MaxRssKiB();
    return side;
}

Side Send(const sockaddr_in &to, const std::vector<std::string> &files, net::TTlsContext *context,
          const std::string &expect, bool &kernel)
{
    bench::Stopwatch clock;
    const double cpu0 = bench::CpuSeconds();
    Side side;
    for (const std::string &path : files) {
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (file < 0 || fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0)
            Die("connect");
        {
            Conn conn(fd, context, expect, expect);
            side.resumed += conn.Resumed();
            kernel = kernel || conn.Kernel();
            const std::int64_t size = static_cast<std::int64_t>(std::filesystem::file_size(path));
            conn.Write(&size, sizeof size);
            conn.SendFile(file, size);
            char reply;
            conn.ReadExact(&reply, 1);
        }
        ::close(file);
    }
    side.seconds = clock.Seconds();
    side.cpu = bench::CpuSeconds() - cpu0;
    side.rssKiB = dz::bench::MaxRssKiB();
    return side;
}

// Runs fn in a child process and returns what it reported.
template <typename Fn>
pid_t Child(int pipeOut[2], Fn fn)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        Die("fork");
    if (pid == 0) {
        ::close(pipeOut[0]);
        Side side {};
        try {
            side = fn();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "tls_bench: %s\n", e.what());
            std::_Exit(1);
        }
        if (::write(pipeOut[1], &side, sizeof side) != sizeof side)
            std::_Exit(1);
        std::_Exit(0);
    }
    ::close(pipeOut[1]);
    return pid;
}

Side Collect(int fd, pid_t pid)
{
    Side side {};
    const ssize_t n = ::read(fd, &side, sizeof side);
    ::close(fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (n != sizeof side || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Die("a side failed");
    return side;
}

struct Run {
    Side sender, receiver;
    bool kernel = false;
};

Run Transfer(const std::vector<std::string> &files, bool tls, const net::TIdentity &client, const net::TIdentity &server)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        Die("listen");
    int toReceiver[2], toSender[2], kernelPipe[2];
    if (::pipe(toReceiver) != 0 || ::pipe(toSender) != 0 || ::pipe(kernelPipe) != 0)
        Die("pipe");
    const pid_t receiver = Child(toReceiver, [&] {
        std::unique_ptr<net::TTlsContext> context;
        if (tls)
            context = std::make_unique<net::TTlsContext>(net::TTlsContext::Role::Server, &server);
        return Receive(listener, static_cast<int>(files.size()), context.get(), client.Fingerprint());
    });
    ::close(listener);
    const pid_t sender = Child(toSender, [&] {
        std::unique_ptr<net::TTlsContext> context;
        if (tls)
            context = std::make_unique<net::TTlsContext>(net::TTlsContext::Role::Client, &client);
        bool kernel = false;
        const Side side = Send(a, files, context.get(), server.Fingerprint(), kernel);
        const char k = kernel ? 1 : 0;
        if (::write(kernelPipe[1], &k, 1) != 1)
            std::_Exit(1);
        return side;
    });
    ::close(kernelPipe[1]);
    Run run;
    char k = 0;
    if (::read(kernelPipe[0], &k, 1) == 1)
        run.kernel = k != 0;
    ::close(kernelPipe[0]);
    run.sender = Collect(toSender[0], sender);
    run.receiver = Collect(toReceiver[0], receiver);
    return run;
}

void Print(const char *what, const Run &clear, const Run &tls, double mib)
{
    const auto line = [&](const char *mode, const Run &r) {
        std::printf("  %-5s %7.2f s  %8.1f MiB/s  CPU sender %5.2f s receiver %5.2f s  peak RSS sender %6.1f MiB "
                    "receiver %6.1f MiB  resumed %d\n",
                    mode, r.sender.seconds, mib / r.sender.seconds, r.sender.cpu, r.receiver.cpu,
                    static_cast<double>(r.sender.rssKiB) / 1024, static_cast<double>(r.receiver.rssKiB) / 1024,
                    r.sender.resumed);
    };
    std::printf("%s\n", what);
    line("clear", clear);
    line("TLS", tls);
    std::printf("  TLS / clear: %.2fx the time\n", tls.sender.seconds / clear.sender.seconds);
}

bool KernelTlsModule()
{
    std::ifstream modules("/proc/modules");
    std::string line;
    while (std::getline(modules, line))
        if (line.rfind("tls ", 0) == 0)
            return true;
    std::ifstream ulp("/proc/sys/net/ipv4/tcp_available_ulp");
    std::string names;
    std::getline(ulp, names);
    return (" " + names + " ").find(" tls ") != std::string::npos;
}

void WriteFile(const std::string &path, std::int64_t size, std::mt19937_64 &random)
{
    std::vector<std::uint64_t> block(static_cast<std::size_t>(std::min<std::int64_t>(size, 1 << 20) + 7) / 8);
    for (auto &v : block)
        v = random();
    std::ofstream out(path, std::ios::binary);
    for (std::int64_t left = size; left > 0;) {
        const std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size() * 8));
        out.write(reinterpret_cast<const char *>(block.data()), n);
        left -= n;
        block[static_cast<std::size_t>(left) % block.size()] ^= random(); // no two MiB alike
    }
    if (!out)
        Die("write " + path);
}

} // namespace

int main(int argc, char **argv)
{
    const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    const int count = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::int64_t kib = argc > 3 ? std::atoll(argv[3]) : 10;
    char folderName[] = "/tmp/dz-tls-bench-XXXXXX";
    if (::mkdtemp(folderName) == nullptr)
        Die("mkdtemp");
    const std::string folder = std::string(folderName) + "/";
    std::mt19937_64 random(7);
    const std::string big = folder + "big.bin";
    WriteFile(big, mib << 20, random);
    std::vector<std::string> small;
    for (int i = 0; i < count; ++i) {
        small.push_back(folder + "small" + std::to_string(i) + ".bin");
        WriteFile(small.back(), kib * 1000, random);
    }
    const net::TIdentity client = net::TIdentity::Generate("sender");
    const net::TIdentity server = net::TIdentity::Generate("receiver");

    std::printf("tls_bench: loopback, each side a process; kernel tls module %s\n",
                KernelTlsModule() ? "present" : "absent (user-space encryption)");
    const Run bigClear = Transfer({big}, false, client, server);
    const Run bigTls = Transfer({big}, true, client, server);
    std::printf("TLS sending path: %s\n", bigTls.kernel ? "SSL_sendfile (kTLS)" : "SSL_write from a page-aligned buffer");
    Print((std::to_string(mib) + " MiB, one connection:").c_str(), bigClear, bigTls, static_cast<double>(mib));
    const Run smallClear = Transfer(small, false, client, server);
    const Run smallTls = Transfer(small, true, client, server);
    Print((std::to_string(count) + " files of " + std::to_string(kib) + " KB, a connection each:").c_str(), smallClear,
          smallTls, static_cast<double>(count * kib * 1000) / (1 << 20));
    std::filesystem::remove_all(folder);
    return 0;
}
