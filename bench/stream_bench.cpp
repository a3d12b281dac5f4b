// One stream between two processes through the real services: the sender
// sends a file from the disk, the receiver stores it through the file sink
// (written as it arrives, flushed, renamed) and replies only then. Each
// side prints its time and its peak resident memory. Driven by
// bench/stream_copy.sh.
//
//   stream_bench receive PORT FOLDER [cached|direct]   serve one stream into FOLDER/received.bin
//   stream_bench send HOST PORT FILE [sendfile|read|hash]     send FILE, print the time to the reply
//                                                      (read: through the I/O buffer instead
//                                                      of sendfile, for comparison; hash: with
//                                                      its XXH3-128 after it, as between two
//                                                      copies that showed Hash)

#include "net/filestream.h"
#include "services/nmstrm.h"
#include "services/wire.h"
#include "util/filesink.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

using namespace dz;

namespace {

long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

double Since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A sink in the chosen mode, stored under one fixed name.
class Sink : public services::IStreamSink {
public:
    Sink(const std::string &folder, TFileSink::Mode mode) : file_(folder, mode), final_(folder + "received.bin") {}
    std::span<char> Room() override { return file_.Room(); }
    void Filled(std::size_t n) override { file_.Filled(n); }
    void Commit() override { file_.Commit(final_); }
    void Abandon() noexcept override { file_.Abandon(); }

private:
    TFileSink file_;
    std::string final_;
};

// The file seen as a plain stream: the transfers then read it block by
// block into their buffer instead of handing it to sendfile.
class ReadThrough : public net::TStream {
public:
    explicit ReadThrough(net::TFileStream &file) : file_(file) {}
    std::int64_t Size() const override { return file_.Size(); }
    std::int64_t Position() const override { return file_.Position(); }
    void SetPosition(std::int64_t p) override { file_.SetPosition(p); }
    std::int64_t Read(void *buffer, std::int64_t count) override { return file_.Read(buffer, count); }
    std::int64_t Write(const void *buffer, std::int64_t count) override { return file_.Write(buffer, count); }

private:
    net::TFileStream &file_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "receive" && argc >= 4) {
            std::string folder = argv[3];
            if (folder.back() != '/')
                folder += '/';
            const auto sinkMode =
                argc > 4 && std::string(argv[4]) == "direct" ? TFileSink::Mode::Direct : TFileSink::Mode::Cached;
            services::TNMStrmServ server;
            server.Port = std::atoi(argv[2]);
            std::atomic<bool> started {false};
            std::atomic<std::int64_t> bytes {0};
            auto start = std::chrono::steady_clock::now();
            server.OnStreamStart = [&](services::TNMStrmServ *, const std::string &,
                                       std::int64_t size) -> std::unique_ptr<services::IStreamSink> {
                start = std::chrono::steady_clock::now();
                bytes = size;
                started = true;
                return std::make_unique<Sink>(folder, sinkMode);
            };
            server.Loaded();
            std::printf("listening %d\n", static_cast<int>(server.LocalPort()));
            std::fflush(stdout);
            // Until the one stream's connection has ended, whichever way.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
            while (!(started && server.ConnectionCount() == 0) && std::chrono::steady_clock::now() < deadline) {
                net::Pump();
                net::WaitForActivity(-1, 0, 50);
            }
            std::printf("receiver: %lld bytes stored in %.2f s from the header, peak memory %.0f MiB\n",
                        static_cast<long long>(bytes.load()), Since(start), PeakResidentKiB() / 1024.0);
            return started ? 0 : 1;
        }
        if (mode == "send" && (argc == 5 || argc == 6)) {
            services::TNMStrm client;
            client.PumpWhileWaiting = false;
            client.Host = argv[2];
            client.Port = std::atoi(argv[3]);
            client.FromName = "BENCH";
            net::TFileStream stream(argv[4]);
            const auto start = std::chrono::steady_clock::now();
            ReadThrough readThrough(stream);
            const std::string how = argc == 6 ? argv[5] : "sendfile";
            const std::string reply = how == "read"   ? client.PostStream(readThrough)
                                      : how == "hash" ? client.PostStream(stream, {.hashed = true})
                                                      : client.PostStream(stream);
            std::printf("sender: %lld bytes sent and stored in %.2f s (%s), peak memory %.0f MiB\n",
                        static_cast<long long>(stream.Size()), Since(start),
                        reply == services::kReply ? "replied" : "NO REPLY", PeakResidentKiB() / 1024.0);
            return reply == services::kReply ? 0 : 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the top of stream_bench.cpp\n");
    return 2;
}
