#include "SingleInstance.h"

#include <QByteArrayView>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <optional>
#include <utility>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray kRequest = "raise\n";
const QByteArray kAdd = "add ";
const QByteArray kRaised = "raised";
const QByteArray kAdded = "added";
const QByteArray kClosing = "closing";

// Bounds on what a request may hold. A command line cannot pass more than a
// few MiB of arguments, and no path on Linux is longer than PATH_MAX.
constexpr qsizetype kMaxLine = 32;
constexpr qsizetype kMaxPayload = TSingleInstance::kMaxPayload;
constexpr qsizetype kMaxPath = 4096;
constexpr int kRequestMs = 10000;
constexpr int kMaxConnections = 16;
const char *const kWant = "dizaruzWant"; // a socket's payload size still to come

QByteArray EncodePaths(const QStringList &paths)
{
    QByteArray payload;
    for (const QString &path : paths)
        payload += path.toUtf8() + '\0';
    return kAdd + QByteArray::number(payload.size()) + '\n' + payload;
}

// The paths of a payload, or nothing when any of it is malformed.
std::optional<QStringList> DecodePaths(const QByteArray &payload)
{
    if (payload.isEmpty() || !payload.endsWith('\0'))
        return std::nullopt;
    QStringList paths;
    qsizetype from = 0;
    while (from < payload.size()) {
        const qsizetype end = payload.indexOf('\0', from);
        const QByteArrayView path(payload.constData() + from, end - from);
        if (path.isEmpty() || path.size() > kMaxPath || path.front() != '/' || !path.isValidUtf8())
            return std::nullopt;
        paths << QString::fromUtf8(path);
        from = end + 1;
    }
    return paths;
}

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

TSingleInstance::TSingleInstance(QString folder, QString name, QObject *parent)
    : QObject(parent), folder_(std::move(folder)), name_(std::move(name))
{
}

QString TSingleInstance::NameFor(const QString &programFolder)
{
    // A socket path is short (108 bytes): a digest stands for the folder.
    const QByteArray digest = QCryptographicHash::hash(programFolder.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("Dizaruz-") + QString::fromLatin1(digest.toHex().left(20));
}

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
    return folder_ + u'/' + name_ + QStringLiteral(".lock");
}

QString TSingleInstance::socketPath() const
{
    return folder_ + u'/' + name_ + QStringLiteral(".socket");
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

QByteArray TSingleInstance::Ask(int waitMs, const QByteArray &request)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(qMin(waitMs, 1000)))
        return {};
    socket.write(request);
    socket.flush();
    const QDeadlineTimer deadline(waitMs);
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        // The copy that answers may live in this very process (in tests).
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        socket.waitForReadyRead(5);
    }
    return socket.canReadLine() ? socket.readLine().trimmed() : QByteArray();
}

TSingleInstance::TClaim TSingleInstance::Claim(int waitMs, const QStringList &paths)
{
    const QByteArray request = paths.isEmpty() ? kRequest : EncodePaths(paths);
    const QByteArray taken = paths.isEmpty() ? kRaised : kAdded;
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
        if (Ask(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 2000)), request) == taken)
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
            if (connections_ >= kMaxConnections) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            ++connections_;
            socket->setReadBufferSize(kMaxLine + kMaxPayload + 1);
            connect(socket, &QObject::destroyed, this, [this] { --connections_; });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Answer(socket); });
            // A request that never ends holds no connection for ever.
            QTimer::singleShot(kRequestMs, socket, [this, socket] { Refuse(socket); });
            if (socket->bytesAvailable() > 0)
                Answer(socket);
        }
    });
    return true;
}

bool TSingleInstance::Closing() const
{
    return closing_ || window_.isNull();
}

void TSingleInstance::Refuse(QLocalSocket *socket)
{
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    // Not inside the socket's own signal: it still reads after its handler.
    QTimer::singleShot(0, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void TSingleInstance::Reply(QLocalSocket *socket, const QByteArray &answer)
{
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    socket->write(answer + '\n');
    // Out before anything else runs: the caller may end this process next.
    socket->flush();
    socket->disconnectFromServer();
}

void TSingleInstance::Answer(QLocalSocket *socket)
{
    bool ok = true;
    qsizetype want = socket->property(kWant).toLongLong(&ok);
    if (!ok) {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxLine)
                Refuse(socket);
            return;
        }
        const QByteArray request = socket->readLine(kMaxLine + 1);
        if (request == kRequest) {
            if (Closing()) {
                Reply(socket, kClosing);
                return;
            }
            Reply(socket, kRaised);
            Raise();
            if (onRaised)
                onRaised();
            return;
        }
        const QByteArray size = request.startsWith(kAdd) && request.endsWith('\n')
                                    ? request.mid(kAdd.size(), request.size() - kAdd.size() - 1)
                                    : QByteArray();
        want = size.toLongLong(&ok);
        // Digits only: no sign, no blanks, no leading zeros that toLongLong forgives.
        if (!ok || want <= 0 || want > kMaxPayload || QByteArray::number(want) != size) {
            Refuse(socket);
            return;
        }
        socket->setProperty(kWant, static_cast<qlonglong>(want));
    }
    if (socket->bytesAvailable() < want)
        return;
    const QByteArray payload = socket->read(want);
    const std::optional<QStringList> paths = DecodePaths(payload);
    if (!paths || socket->bytesAvailable() > 0) {
        Refuse(socket);
        return;
    }
    if (Closing()) {
        Reply(socket, kClosing);
        return;
    }
    Reply(socket, kAdded);
    Raise();
    // Outside the socket's handler: adding rows may pump the event loop.
    QTimer::singleShot(0, this, [this, paths = *paths] { Deliver(paths); });
}

void TSingleInstance::Raise()
{
    QWidget *window = window_.data();
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

void TSingleInstance::Deliver(const QStringList &paths)
{
    pending_ += paths;
    if (delivering_)
        return;
    delivering_ = true;
    while (!pending_.isEmpty()) {
        const QStringList batch = std::exchange(pending_, {});
        if (onPaths && !window_.isNull())
            onPaths(batch);
    }
    delivering_ = false;
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
