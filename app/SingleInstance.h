#pragma once
// One running copy per user of the installed program. The first copy holds
// a lock in the user's runtime folder for its whole life and answers on a
// local socket beside it; a later start asks it to bring its window forward
// and, when it agrees, ends at once. A copy whose window is already closing
// says so, and the later start then waits for it to be gone and runs in its
// place: a request never disappears into a copy that is on its way out.
// GUI thread only.

#include <QObject>
#include <QPointer>
#include <QString>

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
    // runtime folder (private to the user); made when missing. Nothing is
    // touched before Claim().
    explicit TSingleInstance(QString folder, QObject *parent = nullptr);
    // Stops answering and releases the lock: a start waiting for it runs.
    ~TSingleInstance() override;

    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // Decides whether this process runs. Pumps the event loop while it waits
    // for a copy that is closing or still starting, at most waitMs.
    TClaim Claim(int waitMs = 30000);

    // After Claim() returned First: answers each later start by bringing
    // window forward (restored, raised, activated where the desktop allows),
    // unless the window is closing or gone, which the answer then says.
    // False when the socket cannot be opened (later starts then wait for the
    // lock and run once this copy has ended).
    bool Serve(QWidget *window);

    // Runs after each request that brought the window forward.
    std::function<void()> onRaised;

    QString lockPath() const;
    QString socketPath() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class TLock { Taken, Held, Unusable };
    TLock TryLock();
    // Asks the copy that holds the lock; its answer ("raised", "closing"),
    // or empty when none came.
    QByteArray Ask(int waitMs);
    void Answer(QLocalSocket *socket);
    bool Closing() const;

    QString folder_;
    int lockFd_ = -1;
    QLocalServer *server_ = nullptr;
    QPointer<QWidget> window_;
    bool closing_ = false;
    bool quitting_ = false;
    bool inClose_ = false;
};
