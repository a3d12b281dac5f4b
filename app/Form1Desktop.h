#pragma once
// The main window's ties to the desktop: the bus the file manager is
// reached on, and a notification when a batch from the peer has arrived
// while the user was looking elsewhere. Made by the window's constructor,
// gone with the window. GUI thread only; nothing here waits for the desktop.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <string>

#include <QUrl>

#include <functional>

class TForm1;
namespace dz::desktop {
class TNotifier;
} // namespace dz::desktop

// The desktop file's name without ".desktop", which is also the icon's name.
inline QString AppId()
{
    return QStringLiteral("org.dizaruz.dizaruz");
}

class TForm1Desktop : public QObject {
public:
    // Connects to the bus that form's configuration names.
    explicit TForm1Desktop(TForm1 &form);
    ~TForm1Desktop() override;

    TForm1Desktop(const TForm1Desktop &) = delete;
    TForm1Desktop &operator=(const TForm1Desktop &) = delete;

    // The receive folder as files are stored there now: Label_Dir_Reciv, or
    // the program folder when that is empty or gone; UTF-8, ending in '/'.
    QString ReceiveFolder() const;
    // Shows file selected in the file manager; shown(false) when none answered.
    void ShowItems(const QUrl &file, std::function<void(bool shown)> shown);

    // The peer's batch has ended ("Send_End"). Called before the window
    // leaves its receiving state (FreeFlag still false; a Send_End without a
    // batch is ignored). When files arrived and the window is not the active
    // one, the desktop is told how many and from whom, with an action that
    // opens the receive folder.
    void BatchEnded(const std::string &sFrom);

    // "Принят 1 файл", "Принято 3 файла", "Принято 5 файлов"...
    static QString FilesArrivedText(int count);

    dz::desktop::TNotifier &Notifier() const { return *notifier_; }

private:
    TForm1 &form_;
    QString busName_; // a private connection of this window, closed with it
    bool ownBus_;     // busName_ was opened here (not the shared session bus)
    QDBusConnection bus_;
    dz::desktop::TNotifier *notifier_;
};
