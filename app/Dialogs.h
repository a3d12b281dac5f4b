#pragma once
// Every dialog of the program, and the desktop's "open", go through IDialogs,
// so that tests can answer them without a modal loop and without starting
// another program. TQtDialogs is the real thing.
//
// All calls run on the GUI thread; each blocks until the user answers (the
// Qt implementation runs a nested event loop, so timers and sockets keep
// being served meanwhile). Texts are Unicode: convert at the caller.

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

class QDialog;
class QWidget;

// The caption of the program's own message boxes.
inline QString AppCaption()
{
    return QStringLiteral("Dizaruz");
}

// What the open-file dialog OD1 offers.
struct TOpenDialogOptions {
    QString title;
    QString filter = QCoreApplication::translate("TOpenDialogOptions", "Все файлы (*)"); // one entry: every file
    bool multiSelect = true;                          // several files at once
    bool mustExist = true;                            // only existing files
};

class IDialogs {
public:
    virtual ~IDialogs() = default;

    // The chosen files as UTF-8 paths, in the order the dialog gives them;
    // empty when the user cancels.
    virtual QStringList openFiles(QWidget *parent, const TOpenDialogOptions &options) = 0;
    // A question with a question icon and the buttons "OK" and "Cancel";
    // true only for "OK" (closing the dialog counts as "Cancel").
    virtual bool confirm(QWidget *parent, const QString &caption, const QString &text) = 0;
    // A question with the buttons "&Yes" and "&No"; true only for "&Yes".
    virtual bool askYesNo(QWidget *parent, const QString &caption, const QString &text) = 0;
    // A message box with an "OK" button.
    virtual void message(QWidget *parent, const QString &caption, const QString &text) = 0;
    // A message that waits for nobody: shown without a modal loop, and
    // while one is open, later notices join it instead of opening more boxes.
    virtual void notice(QWidget *parent, const QString &caption, const QString &text) = 0;
    // The folder-choice dialog, starting in start (the current folder when
    // empty). A typed folder that does not exist is returned only after the
    // user agreed to create it; the dialog does not create it. nullopt when
    // cancelled.
    virtual std::optional<QString> selectFolder(QWidget *parent, const QString &caption,
                                                const QString &start) = 0;
    // Shows a dialog of the program modally and returns its result code.
    virtual int execModal(QDialog &dialog) = 0;
    // The desktop's "open": a file with its default application, a folder in
    // the file manager, a web address in the browser. False when the desktop
    // could not do it. Returns without waiting for the application.
    virtual bool openUrl(const QUrl &url) = 0;
};

class TQtDialogs : public IDialogs {
    Q_DECLARE_TR_FUNCTIONS(TQtDialogs)

public:
    QStringList openFiles(QWidget *parent, const TOpenDialogOptions &options) override;
    bool confirm(QWidget *parent, const QString &caption, const QString &text) override;
    bool askYesNo(QWidget *parent, const QString &caption, const QString &text) override;
    void message(QWidget *parent, const QString &caption, const QString &text) override;
    void notice(QWidget *parent, const QString &caption, const QString &text) override;
    std::optional<QString> selectFolder(QWidget *parent, const QString &caption,
                                        const QString &start) override;
    int execModal(QDialog &dialog) override;
    bool openUrl(const QUrl &url) override;

private:
    QPointer<QMessageBox> notices_;
    QStringList noticeLines_;
};

// The toolkit's folder dialog, extended to accept a typed folder that does
// not exist yet (after asking, through dialogs, whether to create it; "&No"
// keeps the dialog open) and with a help button.
class TFolderDialog : public QFileDialog {
    Q_DECLARE_TR_FUNCTIONS(TFolderDialog)

public:
    TFolderDialog(IDialogs &dialogs, QWidget *parent, const QString &caption, const QString &start);

    // The accepted folder (absolute, as typed or picked); empty before.
    QString chosenFolder() const { return chosen_; }

    void accept() override;

private:
    void showHelp();

    IDialogs &dialogs_;
    QString chosen_;
};
