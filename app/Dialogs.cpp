#include "Dialogs.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

QStringList TQtDialogs::openFiles(QWidget *parent, const TOpenDialogOptions &options)
{
    QFileDialog dialog(parent, options.title, QString(), options.filter);
    // Qt's own dialog: it is resizable everywhere and has no read-only box.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(options.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

bool TQtDialogs::confirm(QWidget *parent, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
    QPushButton *ok = box.addButton(tr("OK"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok;
}

bool TQtDialogs::askYesNo(QWidget *parent, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void TQtDialogs::message(QWidget *parent, const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

void TQtDialogs::notice(QWidget *parent, const QString &caption, const QString &text)
{
    // The newest notices, newest last; older ones give way so the box keeps a sane size.
    constexpr int kMostLines = 12;
    if (!notices_) {
        noticeLines_.clear();
        notices_ = new QMessageBox(QMessageBox::Warning, caption, QString(), QMessageBox::Ok, parent);
        notices_->setObjectName(QStringLiteral("NoticeBox"));
        notices_->setModal(false);
        notices_->setWindowModality(Qt::NonModal);
        notices_->setAttribute(Qt::WA_DeleteOnClose);
    }
    noticeLines_.append(text);
    while (noticeLines_.size() > kMostLines)
        noticeLines_.removeFirst();
    notices_->setText(noticeLines_.join(QLatin1Char('\n')));
    notices_->show();
    notices_->raise();
}

std::optional<QString> TQtDialogs::selectFolder(QWidget *parent, const QString &caption,
                                                const QString &start)
{
    TFolderDialog dialog(*this, parent, caption, start);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosenFolder();
}

int TQtDialogs::execModal(QDialog &dialog)
{
    return dialog.exec();
}

bool TQtDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

TFolderDialog::TFolderDialog(IDialogs &dialogs, QWidget *parent, const QString &caption,
                             const QString &start)
    : QFileDialog(parent, caption, start), dialogs_(dialogs)
{
    // The native dialogs cannot be taught to accept a folder that does not exist.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ShowDirsOnly, true);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    if (auto *buttons = findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))) {
        QPushButton *help = buttons->addButton(QDialogButtonBox::Help);
        connect(help, &QPushButton::clicked, this, [this] { showHelp(); });
    }
}

void TFolderDialog::accept()
{
    const QStringList files = selectedFiles();
    const QString folder = files.isEmpty() ? QString() : files.first();
    if (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        if (QFileInfo::exists(folder))
            return; // a file of that name: it can be neither chosen nor created
        if (!dialogs_.askYesNo(this, windowTitle(),
                               tr("The specified directory does not exist. Create it?")))
            return; // "&No": the user goes on choosing
    }
    chosen_ = folder;
    QDialog::accept();
}

void TFolderDialog::showHelp()
{
    dialogs_.message(this, windowTitle(),
                     tr("Выберите папку, куда копировать принятые файлы.\n"
                                    "Можно ввести имя новой папки: программа создаст её."));
}
