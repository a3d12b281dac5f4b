// File sending (a send run, one row per tick) and file receiving.

#include "Clock.h"
#include "Controls.h"
#include "Form1.h"
#include "OrderedWork.h"

#include "net/stream.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/errors.h"
#include "util/files.h"
#include "util/text.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Reads the whole file into an empty memory stream, straight into the
// stream's own blocks, keeping the window served while a large file loads
// (as the send that follows does). Raises "Cannot open file <path>".
void LoadFile(const std::string &path, dz::net::TMemoryStream &stream)
{
    auto lastPump = std::chrono::steady_clock::now();
    const int fd = ::open(dz::FsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw dz::EFileError("Cannot open file " + path);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (;;) {
        const std::span<char> room = stream.AppendRoom(static_cast<std::size_t>(dz::net::TMemoryStream::kBlockSize));
        const ssize_t n = ::read(fd, room.data(), room.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            throw dz::EFileError("Cannot open file " + path);
        }
        if (n == 0)
            break;
        stream.Appended(static_cast<std::size_t>(n));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPump >= std::chrono::milliseconds(20)) {
            lastPump = now;
            QCoreApplication::processEvents();
        }
    }
    ::close(fd);
}

} // namespace

void TForm1::SB_sendClick()
{
    Timer1->stop();
    SetTextOf(Edit_RemoteComputerName, dz::TrimText(TextOf(Edit_RemoteComputerName)));
    if (TextOf(Edit_RemoteComputerName).empty() || ListF_send->count() == 0)
        return;
    Label_YesSend->show();
    SB_send->setEnabled(false);
    SB_Help->setEnabled(false);
    PostMsg("Send_Start");
    SetTextOf(Label_RecivNow, "");
    SetItemIndex(ListF_send, -1);
    Timer1->start();
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    const int rows = ListF_send->count();
    int p = ItemIndex(ListF_send);
    if (p >= rows - 1) {
        PostMsg("Send_End");
        SB_send->setEnabled(true);
        SB_Help->setEnabled(true);
        Label_YesSend->hide();
        return;
    }
    SetItemIndex(ListF_send, ++p);
    if (RowChecked(ListF_send, p)) {
        const std::string path = RowText(ListF_send, p);
        PostMsg("File_Start|" + dz::FileNameOf(path));
        {
            const TOrderedWork::TBusy busy(*work_);
            dz::net::TMemoryStream stream;
            LoadFile(path, stream);
            NMStrm1->PostStream(stream);
        }
        PostMsg("File_End|" + dz::FileNameOf(RowText(ListF_send, p)));
        QCoreApplication::processEvents();
        delete ListF_send->takeItem(p);
        SetItemIndex(ListF_send, p - 1);
        SaveListFile(ListF_send);
    }
    Timer1->start();
}

std::string TForm1::SafeReceivedName(const std::string &announced)
{
    // A Windows peer may send either separator; only the last part counts.
    std::string name = announced;
    const auto cut = name.find_last_of("/\\");
    if (cut != std::string::npos)
        name.erase(0, cut + 1);
    std::string clean;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 32 && c != 127)
            clean += c;
    dz::TrimBlanks(clean);
    if (clean.empty() || clean == "." || clean == "..")
        return {};
    return clean;
}

void TForm1::NMStrmServ1MSG(const std::string &sFrom, const dz::net::TMemoryStream &strm)
{
    if (strm.Size() == 0)
        return;
    // The pending name is taken once, for both the file and its row.
    const std::string name = SafeReceivedName(TextOf(Label_RecivNow));
    if (name.empty())
        return; // no name, or one that would leave the folder: nothing is stored
    std::string folder = dz::TrimText(TextOf(Label_Dir_Reciv));
    if (folder.empty() || !dz::FolderExists(folder))
        folder = ProgramFolder();
    if (folder.back() != '/')
        folder += '/';
    // Only a file that was stored is listed, and a file that could not be
    // stored is reported here: the sender already counts it as sent. The
    // bytes go to a temporary file that replaces the old one when complete,
    // so a failure never leaves a part of a file, nor loses an older file of
    // the same name.
    if (!dz::IsDriveWritable(folder))
        throw dz::EFileError("Cannot create file " + folder + name);
    dz::WriteFileAtomic(folder + name, strm.Pieces());
    const QDateTime now = clock_->now();
    const std::string when = dz::FromQString(QLocale::system().toString(now.date(), QLocale::ShortFormat) +
                                             QLatin1Char(' ') + TimeOfDayText(now.time()));
    InsertRow(ListF_recv, 0, when + " | " + sFrom + " | " + name);
    SetItemIndex(ListF_recv, 0);
    SetTextOf(Label_RecivNow, "");
    SaveListFile(ListF_recv);
}
