#include "SingleInstance.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray kRequest = "raise\n";
const QByteArray kRaised = "raised";
const QByteArray kClosing = "closing";

// Lets the event loop run for a moment without spinning.
void PumpFor(int ms)
{
    const QDeadlineTimer until(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    } while (!until.hasExpired());
}

} // namespace

TSingleInstance::TSingleInstance(QString folder, QObject *parent) : QObject(parent), folder_(std::move(folder)) {}

TSingleInstance::~TSingleInstance()
{
    // The socket goes first: a start that finds no answer waits for the lock.
    if (server_ != nullptr) {
        server_->close();
        delete server_;
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

QString TSingleInstance::lockPath() const
{
    return folder_ + QStringLiteral("/Dizaruz.lock");
}

QString TSingleInstance::socketPath() const
{
    return folder_ + QStringLiteral("/Dizaruz.socket");
}

TSingleInstance::TLock TSingleInstance::TryLock()
{
    if (lockFd_ < 0) {
        QDir().mkpath(folder_);
        lockFd_ = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ < 0)
            return TLock::Unusable;
    }
    // flock belongs to this open file: the kernel drops it when the process
    // ends, however it ends, so a crashed copy never blocks the next one.
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0)
        return TLock::Taken;
    return errno == EWOULDBLOCK ? TLock::Held : TLock::Unusable;
}

QByteArray TSingleInstance::Ask(int waitMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(qMin(waitMs, 1000)))
        return {};
    socket.write(kRequest);
    socket.flush();
    const QDeadlineTimer deadline(waitMs);
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        // The copy that answers may live in this very process (in tests).
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        socket.waitForReadyRead(5);
    }
    return socket.canReadLine() ? socket.readLine().trimmed() : QByteArray();
}

TSingleInstance::TClaim TSingleInstance::Claim(int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        switch (TryLock()) {
        case TLock::Taken:
            return TClaim::First;
        case TLock::Unusable:
            return TClaim::Unsettled; // nobody can hold the lock here: no rule to keep
        case TLock::Held:
            break;
        }
        // The lock is held: by a running copy, one still starting (no socket
        // yet), or one closing (it says so, or its socket is gone already).
        if (Ask(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 2000))) == kRaised)
            return TClaim::Forwarded;
        if (deadline.hasExpired())
            return TClaim::Unsettled;
        PumpFor(50);
    }
}

bool TSingleInstance::Serve(QWidget *window)
{
    window_ = window;
    window->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { quitting_ = closing_ = true; });
    server_ = new QLocalServer;
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Only the holder of the lock gets here, so a socket file left behind is
    // a dead copy's.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath()))
        return false;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Answer(socket); });
            if (socket->canReadLine())
                Answer(socket);
        }
    });
    return true;
}

bool TSingleInstance::Closing() const
{
    return closing_ || window_.isNull();
}

void TSingleInstance::Answer(QLocalSocket *socket)
{
    if (!socket->canReadLine())
        return;
    const QByteArray request = socket->readLine();
    if (request != kRequest) {
        socket->disconnectFromServer();
        return;
    }
    if (Closing()) {
        socket->write(kClosing + '\n');
        socket->flush();
        socket->disconnectFromServer();
        return;
    }
    QWidget *window = window_.data();
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
    socket->write(kRaised + '\n');
    // Out before anything else runs: the caller may end this process next.
    socket->flush();
    socket->disconnectFromServer();
    if (onRaised)
        onRaised();
}

bool TSingleInstance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window_ || event->type() != QEvent::Close || inClose_)
        return QObject::eventFilter(watched, event);
    // The close handler may run the event loop (a goodbye to the peer):
    // requests that come meanwhile must not be taken by a window about to
    // go. So the close is handed on from here, and only a close that was
    // refused makes the window answer again.
    closing_ = true;
    inClose_ = true;
    QCoreApplication::sendEvent(watched, event);
    inClose_ = false;
    closing_ = event->isAccepted() || quitting_;
    return true;
}
