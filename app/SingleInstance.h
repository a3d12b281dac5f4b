#pragma once
// One running copy per state: per user for the installed program, per
// program folder for a copy that keeps its state beside itself. The first
// copy holds a lock in the user's runtime folder for its whole life and
// answers on a local socket beside it; a later start asks it to bring its
// window forward, or to add files to its send list, and, when it agrees,
// ends at once. A copy whose window is already closing
// says so, and the later start then waits for it to be gone and runs in its
// place: a request never disappears into a copy that is on its way out.
// GUI thread only.
//
// The requests, one per connection:
//   "raise\n"                            answered "raised\n"
//   "add N\n" then N bytes of paths,     answered "added\n"
//     each absolute, UTF-8 and ended by a NUL (a path may hold a newline)
// or "closing\n" by a copy on its way out. Anything else, or a request not
// complete within a few seconds, is dropped without an answer: the socket is
// the user's only, but its bytes are still checked like a peer's.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;
class QWidget;

class TSingleInstance : public QObject {
public:
    enum class TClaim {
        First,     // this process holds the lock: it runs, and answers later starts after Serve()
        Forwarded, // the running copy took the request: this process ends now, with status 0
        Unsettled, // no answer in time (a copy that hangs), or no lock to be had
                   // (the folder cannot be used): this process runs all the same
    };

    // folder: where the lock file and the socket live, normally the user's
    // runtime folder (private to the user); made when missing. name: their
    // base name, one per kind of state (see NameFor). Nothing is touched
    // before Claim().
    explicit TSingleInstance(QString folder, QString name = QStringLiteral("Dizaruz"), QObject *parent = nullptr);
    // Stops answering and releases the lock: a start waiting for it runs.
    ~TSingleInstance() override;

    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // The most bytes of paths one request may carry (each path and its NUL).
    static constexpr qsizetype kMaxPayload = 8 * 1024 * 1024;

    // The base name for a copy whose state lives in programFolder, when that
    // is not the installed program's per-user state.
    static QString NameFor(const QString &programFolder);

    // Decides whether this process runs. With paths (absolute, UTF-8), a
    // running copy is asked to add them to its send list; without, to come
    // forward. Pumps the event loop while it waits for a copy that is
    // closing or still starting, at most waitMs.
    TClaim Claim(int waitMs = 30000, const QStringList &paths = {});

    // After Claim() returned First: answers each later start by bringing
    // window forward (restored, raised, activated where the desktop allows),
    // unless the window is closing or gone, which the answer then says.
    // False when the socket cannot be opened (later starts then wait for the
    // lock and run once this copy has ended).
    bool Serve(QWidget *window);

    // Runs after each request that brought the window forward.
    std::function<void()> onRaised;
    // Runs with the paths of an "add" request, after its answer went out and
    // outside the socket's handlers; never re-entered: paths that come while
    // it runs (it may pump the event loop) follow in a later call.
    std::function<void(const QStringList &)> onPaths;

    QString lockPath() const;
    QString socketPath() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class TLock { Taken, Held, Unusable };
    TLock TryLock();
    // Asks the copy that holds the lock; its answer ("raised", "closing"),
    // or empty when none came.
    QByteArray Ask(int waitMs, const QByteArray &request);
    void Answer(QLocalSocket *socket);
    void Refuse(QLocalSocket *socket);
    void Reply(QLocalSocket *socket, const QByteArray &answer);
    void Raise();
    void Deliver(const QStringList &paths);
    bool Closing() const;

    QString folder_;
    QString name_;
    QStringList pending_;
    bool delivering_ = false;
    int connections_ = 0;
    int lockFd_ = -1;
    QLocalServer *server_ = nullptr;
    QPointer<QWidget> window_;
    bool closing_ = false;
    bool quitting_ = false;
    bool inClose_ = false;
};
