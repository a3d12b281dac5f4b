// A cut file sent again between two sessions of ours on loopback: the
// first send is cancelled once the receiver holds about half of it, the
// second continues from what was kept. Prints what the second send moved
// and how long it took from the click to the stored, flushed file. Driven
// by bench/resume_copy.sh, which times netcat for the rest beside it.
//
//   resume_bench FILE FOLDER   (FOLDER: an empty folder to receive into)

#include "net/notify.h"
#include "peer/kept.h"
#include "peer/sendrun.h"
#include "peer/session.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

using namespace dz;

namespace {

bool PumpUntil(const std::function<bool()> &done, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        net::Pump();
        net::WaitForActivity(-1, 0, 5);
    }
    return true;
}

std::unique_ptr<peer::TPeerSession> Side(const std::string &name, const std::string &folder)
{
    peer::TSessionConfig config;
    config.msgPort = 0;
    config.strmPort = 0;
    config.fallbackFolder = folder;
    auto session = std::make_unique<peer::TPeerSession>(config, [](const std::vector<peer::TEffect> &) {});
    session->Listen();
    session->Core().SetIdentity(name, name);
    session->Core().Start();
    session->Core().SetReceiveFolder(folder);
    return session;
}

// One step of a send run; "" when stored, else the error.
std::string Step(peer::TPeerSession &a, const std::string &src, const std::function<void()> &whileSending = {})
{
    std::string error = "pending";
    peer::RunStep(a.Outbox(), a.Streams(), a.Core(), src, [&](const std::string &e) { error = e; });
    PumpUntil([&] {
        if (whileSending)
            whileSending();
        return error != "pending";
    }, std::chrono::seconds(600));
    return error;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: resume_bench FILE FOLDER\n");
        return 2;
    }
    const std::string src = argv[1];
    std::string folder = argv[2];
    if (folder.back() != '/')
        folder += '/';
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(src));

    std::filesystem::create_directories(folder + "a/");
    auto a = Side("127.0.0.1", folder + "a/");
    auto b = Side("127.0.0.2", folder);
    a->Outbox().Client().Port = b->MsgServer().LocalPort();
    a->Streams().Client().Port = b->StrmServer().LocalPort();
    b->Outbox().Client().Port = a->MsgServer().LocalPort();
    a->Send(a->Core().Connect("127.0.0.2"), [&](const std::string &) { a->Core().Connected("127.0.0.2"); });
    if (!PumpUntil([&] { return a->Core().PeerCapabilities().resume && b->Core().PeerCapabilities().resume; },
                   std::chrono::seconds(10))) {
        std::fprintf(stderr, "the sessions did not introduce themselves\n");
        return 1;
    }

    // The cut: a cancel once half has arrived.
    bool cut = false;
    Step(*a, src, [&] {
        if (!cut && b->Incoming().done >= size / 2) {
            a->Streams().Cancel();
            cut = true;
        }
    });
    struct stat st {};
    ::stat(src.c_str(), &st);
    const peer::TKeptKey key {"127.0.0.1", std::filesystem::path(src).filename().string(), size,
                              static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    std::optional<peer::TKeptPart> kept;
    if (!cut || !PumpUntil([&] { return (kept = peer::FindKept(folder, key)).has_value(); }, std::chrono::seconds(60))) {
        std::fprintf(stderr, "nothing was kept after the cut\n");
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    const std::string error = Step(*a, src);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!error.empty()) {
        std::fprintf(stderr, "the second send failed: %s\n", error.c_str());
        return 1;
    }
    std::printf("kept %lld of %lld bytes; the second send moved %lld bytes (%.1f %% of the file) in %.0f ms\n",
                static_cast<long long>(kept->length), static_cast<long long>(size),
                static_cast<long long>(size - kept->length), 100.0 * static_cast<double>(size - kept->length) / static_cast<double>(size),
                seconds * 1000);
    std::printf("rest %lld\nms %.0f\n", static_cast<long long>(size - kept->length), seconds * 1000);
    a->Shutdown();
    b->Shutdown();
    return 0;
}
