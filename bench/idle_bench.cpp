// What idle connections cost a message server: the server's CPU with 0, 200
// and 500 idle connections open against it, and the delay before a message
// is handled while 200 of them are open. The server is a child process
// running a plain Qt event loop, as the window's thread does.
//
// Usage: idle_bench [seconds per figure] [connection cap]   (defaults 5, the server's own)

#include "benchutil.h"
#include "net/tests/rawpeer.h"
#include "services/nmmsg.h"
#include "services/wire.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace dz;

namespace {

std::int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The child: a message server on a Qt event loop; it writes the time at
// which each message was handled into `up` and ends when `down` closes.
int Serve(int up, int down, int cap)
{
    int argc = 1;
    char name[] = "idle-server";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    services::TNMMSGServ server;
    server.Port = 0;
    if (cap > 0)
        server.MaxConnections = cap;
    server.OnMSG = [up](services::TNMMSGServ *, const std::string &, const std::string &) {
        const std::int64_t t = NowUs();
        [[maybe_unused]] auto n = ::write(up, &t, sizeof t);
    };
    server.Loaded();
    const std::int64_t port = server.LocalPort();
    [[maybe_unused]] auto n = ::write(up, &port, sizeof port);
    QSocketNotifier quit(down, QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, &app, [&] { app.quit(); });
    return app.exec();
}

struct Child {
    pid_t pid = 0;
    int port = 0;
    int up = -1, down = -1;
};

Child Start(const std::string &self, int cap)
{
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0)
        std::exit(2);
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) {
        ::close(up[0]);
        ::close(down[1]);
        const std::string u = std::to_string(up[1]), d = std::to_string(down[0]), limit = std::to_string(cap);
        ::execl(self.c_str(), self.c_str(), "serve", u.c_str(), d.c_str(), limit.c_str(), nullptr);
        std::_Exit(3);
    }
    ::close(up[1]);
    ::close(down[0]);
    c.up = up[0];
    c.down = down[1];
    std::int64_t port = 0;
    if (::read(c.up, &port, sizeof port) != sizeof port)
        std::exit(2);
    c.port = static_cast<int>(port);
    return c;
}

void Stop(Child &c)
{
    ::close(c.down);
    ::waitpid(c.pid, nullptr, 0);
    ::close(c.up);
}

// CPU seconds (user + system) of a process so far.
double ProcessCpu(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

int Count(pid_t pid, const char *what)
{
    int n = 0;
    const std::string command = "ls /proc/" + std::to_string(pid) + "/" + what + " | wc -l";
    if (FILE *p = ::popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%d", &n) != 1)
            n = 0;
        ::pclose(p);
    }
    return n;
}

// Connections that a peer still holds open (not reset or closed by the server).
int StillOpen(const std::vector<test::RawFd> &idle)
{
    int open = 0;
    for (const auto &fd : idle) {
        pollfd p {fd.get(), POLLIN, 0};
        if (::poll(&p, 1, 0) == 0)
            ++open;
    }
    return open;
}

} // namespace

int main(int argc, char **argv)
{
    char exe[4096];
    const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    const std::string self(exe, len > 0 ? static_cast<std::size_t>(len) : 0);
    if (argc > 4 && std::string(argv[1]) == "serve")
        return Serve(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int cap = argc > 2 ? std::atoi(argv[2]) : 0;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    for (const int idleCount : {0, 200, 500}) {
        Child child = Start(self, cap);
        std::vector<test::RawFd> idle;
        for (int i = 0; i < idleCount; ++i) {
            idle.push_back(test::RawConnect(child.port));
            if (i % 50 == 49)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double cpu0 = ProcessCpu(child.pid);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu = ProcessCpu(child.pid) - cpu0;
        std::printf("idle: %3d idle connections opened (%3d still open): server CPU %.2f %% of a core, "
                    "%d threads, %d descriptors\n",
                    idleCount, StillOpen(idle), 100.0 * cpu / seconds, Count(child.pid, "task"),
                    Count(child.pid, "fd"));
        if (idleCount == 200) {
            // A fresh client process would pay its own start-up; this one is warm.
            std::vector<double> handled, replied;
            for (int i = 0; i < 20; ++i) {
                services::TNMMsg client;
                client.PumpWhileWaiting = false;
                client.Host = "127.0.0.1";
                client.Port = child.port;
                client.FromName = "BENCH";
                const std::int64_t t0 = NowUs();
                const std::string reply = client.PostText("MSG|hello " + std::to_string(i));
                const std::int64_t t1 = NowUs();
                std::int64_t at = 0;
                if (reply != services::kReply || ::read(child.up, &at, sizeof at) != sizeof at) {
                    std::printf("idle: message %d not served\n", i);
                    break;
                }
                replied.push_back(static_cast<double>(t1 - t0) / 1000.0);
                handled.push_back(static_cast<double>(at - t0) / 1000.0);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::sort(handled.begin(), handled.end());
            std::sort(replied.begin(), replied.end());
            if (!handled.empty())
                std::printf("idle: with 200 idle connections, a message is handled after %.2f ms (median; "
                            "worst %.2f ms) and replied to after %.2f ms (median) over %zu messages\n",
                            handled[handled.size() / 2], handled.back(), replied[replied.size() / 2],
                            handled.size());
        }
        idle.clear();
        Stop(child);
    }
    return 0;
}
