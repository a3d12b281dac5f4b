// 400 idle connections from this process against a server process limited
// to 1,024 descriptors: the server lives and serves a message meanwhile.

#include "net/tests/rawpeer.h"
#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace dz::services {
namespace {

using test::ExceptionText;
using test::RawFd;

// Reads one line from fd within the time limit ("" on time-out or end).
std::string ReadLine(int fd, int timeoutMs)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        if (::read(fd, &c, 1) != 1)
            break;
        if (c == '\n')
            return line;
        line += c;
    }
    return line;
}

TEST(Flood, FourHundredIdleConnectionsAgainstAServerWithAThousandDescriptors)
{
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::execlp("prlimit", "prlimit", "--nofile=1024:1024", SVCTOOL, "serve-msg", "0", "1", nullptr);
        std::_Exit(127);
    }
    ::close(out[1]);
    const std::string listening = ReadLine(out[0], 10000);
    ASSERT_EQ(listening.rfind("listening ", 0), 0u) << listening;
    const int port = std::stoi(listening.substr(10));

    std::vector<RawFd> idle;
    for (int i = 0; i < 400; ++i) {
        idle.push_back(test::RawConnect(port));
        ASSERT_TRUE(idle.back().valid()) << i;
    }
    TNMMsg client;
    client.PumpWhileWaiting = false;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.FromName = "FLOOD";
    std::string reply;
    EXPECT_EQ(ExceptionText([&] { reply = client.PostText("served"); }), "<no exception>");
    EXPECT_EQ(reply, kReply);
    EXPECT_EQ(ReadLine(out[0], 10000), "FLOOD|served");

    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        ::usleep(50000);
    if (!WIFEXITED(status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the server did not end by itself";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the server died";
    ::close(out[0]);
}

} // namespace
} // namespace dz::services
