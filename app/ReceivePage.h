#pragma once
// The page "Принятые": the receive folder and its button, what shows a
// batch coming in, the name expected next, and the list of received files
// (a view of peer/receivelog.h's model) with its actions: "Открыть" and
// "Показать в папке" open the file where it was stored. GUI thread only.

#include "Dialogs.h"

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QAction;
class QFrame;
class QLabel;
class QListView;
class QMenu;
class QToolButton;
class QWidget;
namespace dz::peer {
class TReceiveLogModel;
} // namespace dz::peer

// The tip of a received row whose bytes matched the sender's hash.
QString VerifiedTip(const QString &path);

class TReceivePage : public QObject {
    Q_DECLARE_TR_FUNCTIONS(TReceivePage)

public:
    TReceivePage(QWidget &form, dz::peer::TReceiveLogModel &log, IDialogs &dialogs);

    QWidget *Page_Reciv; // made without a parent: the window's notebook takes it
    QFrame *Panel5;
    QFrame *Panel6;
    QToolButton *SpeedButton1; // empties the list
    QToolButton *SB_Dir;       // chooses the receive folder
    QLabel *Label_Spacer;
    QLabel *Label_Dir_Reciv; // the receive folder
    QLabel *Label_YesReciv;
    QListView *ListF_recv;
    QLabel *Label_RecivNow; // the name of the file expected next
    QMenu *PopupMenu_recv;  // ListF_recv's context menu
    QAction *N_RecvOpen;    // "Открыть"
    QAction *N_RecvShow;    // "Показать в папке"

    // The receive folder as files are stored there now, UTF-8, ending in '/'
    // (for rows listed before their paths were kept).
    std::function<QString()> receiveFolder;
    // Shows a file selected in the file manager; shown(false) when none answered.
    std::function<void(const QUrl &file, std::function<void(bool shown)> shown)> showItems;
    // SpeedButton1 emptied the list; SB_Dir was pressed.
    std::function<void()> onCleared;
    std::function<void()> onChooseFolder;

    // The row's file: where it was stored, else its name in the receive folder.
    QString ReceivedFile(int row) const;
    // Opens the row's file with the desktop's default application (double
    // click, "Открыть"). A file that is no longer there is told in a message.
    void OpenRow(int row);
    // Shows the row's file selected in the file manager, or opens its folder
    // when no file manager answers ("Показать в папке").
    void ShowRowInFolder(int row);
    void OpenFolder(const QString &folder);

private:
    bool RowFileIsThere(const QString &file);

    dz::peer::TReceiveLogModel &log_;
    IDialogs &dialogs_;
    QWidget &form_;
};
