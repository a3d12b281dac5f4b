#pragma once
// The page "Послать": the send list (a view of peer/sendlist.h's model),
// the buttons that edit it, the send button, and what shows a run going.
// It edits the list as the user asks; saving the list and running a send
// are the window's. GUI thread only.

#include "Dialogs.h"

#include <QCoreApplication>
#include <QObject>
#include <QStringList>

#include <deque>
#include <functional>

class QAction;
class QFrame;
class QLabel;
class QListView;
class QMenu;
class QToolButton;
class QWidget;
namespace dz::peer {
class TSendListModel;
} // namespace dz::peer

class TSendPage : public QObject {
    Q_DECLARE_TR_FUNCTIONS(TSendPage)

public:
    // od1: the open dialog's options (the window's OD1).
    TSendPage(QWidget &form, dz::peer::TSendListModel &list, IDialogs &dialogs, TOpenDialogOptions &od1);

    QWidget *Page_Send; // made without a parent: the window's notebook takes it
    QFrame *Panel4;
    QToolButton *SB_FileAdd;
    QToolButton *SB_FolderAdd;
    QToolButton *SB_FileDel;
    QToolButton *SB_ListClear;
    QToolButton *SB_send;
    QLabel *Label_YesSend;
    QLabel *Label_RunProgress; // the send run: files and bytes done of the checked rows
    QListView *ListF_send;
    QMenu *PopupMenu1; // ListF_send's context menu
    QAction *N1;
    QAction *N2;
    QAction *N3;
    TOpenDialogOptions &OD1;

    // The list changed and should be kept.
    std::function<void()> onChanged;
    // SB_send.
    std::function<void()> onSend;

    // Files chosen in the open dialog: a path already listed is selected, not added again.
    void SB_FileAddClick();
    // A folder chosen in the folder dialog: added as one row (selected
    // instead when it is listed already).
    void SB_FolderAddClick();
    // Dropped files and folders (UTF-8 paths, in the desktop's order): each
    // existing one is added, also one already listed; vanished ones are
    // skipped. The paths are looked at on a pool thread (a drop may name a
    // slow or hung disk) and the rows go in later, on this thread, drops in
    // the order they came; done runs then.
    void AddDropped(const QStringList &names, std::function<void()> done = {});
    // The paths of drops still being looked at, in order.
    QStringList PendingDrops() const;
    // Removes the selected row.
    void SB_FileDelClick();
    // Empties the list once the user confirms.
    void SB_ListClearClick();

private:
    void Changed();
    // Adds path unless it is listed; selects its row either way.
    void AddChosen(const QString &path);
    void DropChecked(quint64 serial, const QStringList &files);

    struct TDrop {
        quint64 serial;
        QStringList names;
        std::function<void()> done;
        bool checked = false;
        QStringList files;
    };
    std::deque<TDrop> drops_;
    quint64 dropSerial_ = 0;

    dz::peer::TSendListModel &list_;
    IDialogs &dialogs_;
    QWidget &form_;
};
