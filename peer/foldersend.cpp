#include "foldersend.h"

#include "util/files.h"

#include <algorithm>

namespace dz::peer {
namespace {

// The steps of one folder, each started when the one before went through.
struct TFolderSend : std::enable_shared_from_this<TFolderSend> {
    TOutbox &outbox;
    TStreamSender &streams;
    std::shared_ptr<TStepControl> control;
    std::shared_ptr<const TFolderTree> tree;
    TDone done;
    std::size_t next = 0;

    TFolderSend(TOutbox &o, TStreamSender &s, std::shared_ptr<TStepControl> c, std::shared_ptr<const TFolderTree> t,
                TDone d)
        : outbox(o), streams(s), control(std::move(c)), tree(std::move(t)), done(std::move(d))
    {
    }

    // Runs then() when the messages went, else ends the step with the failure.
    void Post(const std::string &text, std::function<void()> then)
    {
        outbox.Post({{text}}, [self = shared_from_this(), then = std::move(then)](const std::string &error) {
            if (!error.empty())
                return self->done(error);
            if (self->control->Canceled())
                return self->done("Canceled");
            then();
        });
    }

    // The small files that come next, as many as one stream takes.
    std::vector<TFolderEntry> NextBatch() const
    {
        std::vector<TFolderEntry> files;
        std::int64_t bytes = 0;
        for (std::size_t i = next; i < tree->entries.size() && static_cast<int>(files.size()) < kBatchFiles; ++i) {
            const TFolderEntry &e = tree->entries[i];
            if (e.folder || e.size > kBatchFileMax || bytes + e.size > kBatchBytes)
                break;
            bytes += e.size;
            files.push_back(e);
        }
        return files;
    }

    void SendBatch(std::vector<TFolderEntry> files)
    {
        next += files.size();
        streams.OpenBatch(std::move(files), [self = shared_from_this()](const std::string &error, std::int64_t) {
            if (!error.empty())
                return self->done(error);
            if (self->control->Canceled()) {
                self->streams.Close();
                return self->done("Canceled");
            }
            self->SendOpened();
        });
    }

    // Sends what the stream sender opened last, then goes on.
    void SendOpened()
    {
        streams.Send([self = shared_from_this()](const std::string &streamed) {
            if (self->control->Canceled())
                return self->done("Canceled");
            if (!streamed.empty())
                return self->done(streamed);
            self->Step();
        });
    }

    void Step()
    {
        if (next == tree->entries.size())
            return Post(std::string(kFolderEndWord) + "|" + tree->name, [self = shared_from_this()] { self->done({}); });
        if (std::vector<TFolderEntry> batch = NextBatch(); batch.size() > 1)
            return SendBatch(std::move(batch));
        const TFolderEntry &entry = tree->entries[next++];
        if (entry.folder)
            return Post(std::string(kFolderDirWord) + "|" + entry.relative, [self = shared_from_this()] { self->Step(); });
        streams.Open(entry.path, [self = shared_from_this(), &entry](const std::string &error, std::int64_t) {
            if (!error.empty())
                return self->done(error);
            if (self->control->Canceled()) {
                self->streams.Close();
                return self->done("Canceled");
            }
            self->outbox.Post({{std::string(kFolderFileWord) + "|" + entry.relative}},
                              [self](const std::string &sent) {
                                  if (!sent.empty() || self->control->Canceled()) {
                                      self->streams.Close();
                                      return self->done(sent.empty() ? std::string("Canceled") : sent);
                                  }
                                  self->SendOpened();
                              });
        });
    }
};

} // namespace

void RunFolderStep(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
                   std::shared_ptr<TStepControl> control, const std::string &path,
                   std::shared_ptr<const TFolderTree> tree, TDone done,
                   std::function<void(std::int64_t size)> opened)
{
    const TCapabilities caps = core.PeerCapabilities();
    if (!caps.folders)
        return done(NoFoldersError(path));
    // Whatever would stop the folder halfway stops it before it starts.
    for (const TFolderEntry &entry : tree->entries) {
        if (entry.folder)
            continue;
        if (const std::string refused = RefusedSize(FileNameOf(entry.path), entry.size, caps);
            !refused.empty())
            return done(refused);
    }
    if (opened)
        opened(tree->bytes);
    // Every folder first (parents before children, as walked), then the
    // files, so that small files of many folders share their streams.
    auto ordered = std::make_shared<TFolderTree>(*tree);
    std::stable_partition(ordered->entries.begin(), ordered->entries.end(),
                          [](const TFolderEntry &e) { return e.folder; });
    tree = ordered;
    auto send = std::make_shared<TFolderSend>(outbox, streams, std::move(control), tree, std::move(done));
    send->Post(std::string(kFolderStartWord) + "|" + tree->name, [send] { send->Step(); });
}

} // namespace dz::peer
