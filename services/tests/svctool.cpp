// A small command-line peer for the services, used by the two-host test:
// it serves or posts one kind of exchange and prints what happened.
//
//   svctool serve-msg PORT COUNT            print "from|text" per message, end after COUNT
//   svctool post-msg HOST PORT FROM TEXT    print the reply
//   svctool serve-strm PORT OUTFILE         store one stream, print "from|size"
//   svctool post-strm HOST PORT FROM INFILE print the reply (the file is sent from the disk)
//   svctool watch-strm PORT IDLE_MS SECONDS serve streams (kept nowhere) with that idle
//                                           limit; print "live N" whenever the number of
//                                           live connections changes
//   svctool post-trickle HOST PORT SIZE     announce SIZE bytes, then send 1 KiB every
//                                           100 ms until killed
// PORT 0 listens on a port the system picks; "listening PORT" tells which.

#include "services/nmmsg.h"
#include "net/filestream.h"
#include "services/nmstrm.h"
#include "util/files.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

using namespace dz;

namespace {

// Pumps until done() or the time runs out; false on time-out.
template <typename Done>
bool Serve(Done done, int seconds = 20)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        net::Pump();
        net::WaitForActivity(-1, 0, 2);
    }
    // Let the last client see its connection close.
    const auto linger = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < linger) {
        net::Pump();
        net::WaitForActivity(-1, 0, 2);
    }
    return true;
}

template <typename Server>
bool StartListening(Server &server, int port)
{
    server.Port = port;
    server.Loaded();
    if (server.ListenError() != 0) {
        std::fprintf(stderr, "cannot listen on port %d: %s\n", port,
                     server.LookupErrorText(static_cast<std::uint16_t>(server.ListenError())).c_str());
        return false;
    }
    std::printf("listening %d\n", static_cast<int>(server.LocalPort()));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    std::mutex printMutex;
    try {
        if (mode == "serve-msg" && argc == 4) {
            services::TNMMSGServ server;
            const int want = std::atoi(argv[3]);
            int got = 0;
            server.OnMSG = [&](services::TNMMSGServ *, const std::string &from, const std::string &msg) {
                std::lock_guard lock(printMutex);
                std::printf("%s|%s\n", from.c_str(), msg.c_str());
                std::fflush(stdout);
                ++got;
            };
            if (!StartListening(server, std::atoi(argv[2])))
                return 2;
            return Serve([&] {
                std::lock_guard lock(printMutex);
                return got >= want;
            }) ? 0 : 1;
        }
        if (mode == "serve-strm" && argc == 4) {
            services::TNMStrmServ server;
            bool got = false;
            const std::string out = argv[3];
            server.OnMSG = [&](services::TNMStrmServ *, const std::string &from, net::TStream &strm) {
                const std::string bytes = static_cast<net::TMemoryStream &>(strm).ToString();
                WriteFileAtomic(out, bytes);
                std::lock_guard lock(printMutex);
                std::printf("%s|%zu\n", from.c_str(), bytes.size());
                std::fflush(stdout);
                got = true;
            };
            if (!StartListening(server, std::atoi(argv[2])))
                return 2;
            return Serve([&] {
                std::lock_guard lock(printMutex);
                return got;
            }) ? 0 : 1;
        }
        if (mode == "watch-strm" && argc == 5) {
            services::TNMStrmServ server;
            server.IdleLimit = std::atoi(argv[3]);
            server.OnMSG = [](services::TNMStrmServ *, const std::string &, net::TStream &) {};
            if (!StartListening(server, std::atoi(argv[2])))
                return 2;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[4]));
            std::size_t shown = 0;
            while (std::chrono::steady_clock::now() < end) {
                net::Pump();
                net::WaitForActivity(-1, 0, 20);
                if (const std::size_t live = server.ConnectionCount(); live != shown) {
                    shown = live;
                    std::printf("live %zu\n", live);
                    std::fflush(stdout);
                }
            }
            return 0;
        }
        if (mode == "post-trickle" && argc == 5) {
            net::TPowersock sock;
            sock.PumpWhileWaiting = false;
            sock.Host = argv[2];
            sock.Port = std::atoi(argv[3]);
            sock.Connect();
            char size[32];
            std::snprintf(size, sizeof size, "%10lld", std::atoll(argv[4]));
            sock.Write(std::string("0007trickle") + size);
            for (;;) {
                sock.Write(std::string(1024, 't'));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        if ((mode == "post-msg" || mode == "post-strm") && argc == 6) {
            std::string reply;
            if (mode == "post-msg") {
                services::TNMMsg client;
                client.Host = argv[2];
                client.Port = std::atoi(argv[3]);
                client.FromName = argv[4];
                reply = client.PostText(argv[5]);
            } else {
                services::TNMStrm client;
                client.Host = argv[2];
                client.Port = std::atoi(argv[3]);
                client.FromName = argv[4];
                net::TFileStream stream(argv[5]);
                reply = client.PostStream(stream);
            }
            std::printf("reply [%s]\n", reply.c_str());
            return reply == "OK              " ? 0 : 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the top of svctool.cpp\n");
    return 2;
}
