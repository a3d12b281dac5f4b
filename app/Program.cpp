#include "Program.h"

#include "Form1.h"
#include "Language.h"
#include "SendPage.h"
#include "SingleInstance.h"
#include "util/codepage.h"
#include "util/place.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QStandardPaths>

#include <functional>

namespace {

// Adds the paths the send list does not hold yet (nor a drop on its way),
// as a drop of them would: a file handed over twice is listed once. done
// runs once they are in.
void AddToSendList(TForm1 &form, const QStringList &paths, std::function<void()> done)
{
    const QStringList rows = SendListRows(form) + form.SendPage->PendingDrops();
    QStringList fresh;
    for (const QString &path : paths)
        if (!rows.contains(path) && !fresh.contains(path))
            fresh << path;
    form.FormDropFiles(fresh, std::move(done));
}

} // namespace

QStringList SendListRows(const QWidget &window)
{
    // Found by the list's design name, through Qt's item views only: the
    // window's own classes stay free to change around it.
    QStringList rows;
    const auto *list = window.findChild<QAbstractItemView *>(QStringLiteral("ListF_send"));
    const QAbstractItemModel *model = list != nullptr ? list->model() : nullptr;
    for (int row = 0; model != nullptr && row < model->rowCount(); ++row)
        rows << model->index(row, 0).data(Qt::DisplayRole).toString();
    return rows;
}

int RunDizaruz(const TProgramOptions &options)
{
    const dz::TProgramPlace place = dz::ThisProgramPlace(options.installedBinDir);

    // One copy per state: the installed program's per user, any other copy's
    // per program folder. A copy from another folder runs beside it (and is
    // told when the ports are busy).
    const QString folder = options.instanceFolder.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                               : options.instanceFolder;
    TSingleInstance instance(folder, place.installed ? QStringLiteral("Dizaruz")
                                                     : TSingleInstance::NameFor(QString::fromStdString(place.folder)));
    if (instance.Claim(30000, options.paths) == TSingleInstance::TClaim::Forwarded)
        return 0;

    // Before the window: its texts are translated as it is built.
    InstallLanguage(*QCoreApplication::instance(), LanguageAtStart(place.folder));

    TForm1Config config;
    config.programFolder = place.folder;
    config.receiveFolder = place.receiveFolder;
    config.desktopBus = options.desktopBus;
    config.dialogs = options.dialogs;
    config.msgPort = options.msgPort;
    config.strmPort = options.strmPort;
    TForm1 Form1(config);
    Form1.FormCreate();
    Form1.AboutBox(); // made now, hidden until SB_Help shows it
    Form1.show();
    auto add = [&](const QStringList &paths) {
        AddToSendList(Form1, paths, [&Form1, &options] {
            if (options.pathsAdded)
                options.pathsAdded(Form1);
        });
    };
    // Before the socket opens: later starts wait, and never add while these
    // rows go in.
    if (!options.paths.isEmpty())
        add(options.paths);
    instance.onRaised = options.raised;
    instance.onPaths = add;
    instance.Serve(&Form1);
    if (options.started)
        options.started(Form1);
    return QApplication::exec();
}
