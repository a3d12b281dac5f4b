#include "Program.h"

#include "Form1.h"
#include "SingleInstance.h"
#include "util/codepage.h"
#include "util/place.h"

#include <QApplication>
#include <QStandardPaths>

#include <optional>

int RunDizaruz(const TProgramOptions &options)
{
    const dz::TProgramPlace place = dz::ThisProgramPlace(options.installedBinDir);

    // Only the installed program is one per user: build trees and portable
    // copies may run side by side (and are told that the ports are busy).
    std::optional<TSingleInstance> instance;
    if (place.installed) {
        const QString folder = options.instanceFolder.isEmpty()
                                   ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                                   : options.instanceFolder;
        instance.emplace(folder);
        if (instance->Claim() == TSingleInstance::TClaim::Forwarded)
            return 0;
    }

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
    if (instance) {
        instance->onRaised = options.raised;
        instance->Serve(&Form1);
    }
    if (options.started)
        options.started(Form1);
    return QApplication::exec();
}
