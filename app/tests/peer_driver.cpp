// Drives one real window the way a user would, from a list of steps, for
// the test of two copies on two hosts (each in its own network namespace,
// on the real ports). A harness for tests only: the program itself takes
// no arguments.
//
//   peer_driver FOLDER STEP...
//     connect NAME    type NAME as the remote computer and press connect
//     wait-peer       until the remote address box is filled
//     say TEXT        type TEXT into the chat line and press Enter
//     wait-lines N    until the chat log holds N lines
//     wait-bye        until the peer's goodbye has emptied the remote boxes
//     close           close the window (the goodbye goes out)
// Each wait gives up after 15 s (exit 1). The final state is printed.

#include "Controls.h"
#include "FakeDialogs.h"
#include "Form1.h"
#include "util/codepage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include <cstdio>
#include <functional>

namespace {

bool PumpUntil(const std::function<bool()> &done, int ms = 15000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: peer_driver FOLDER STEP...\n");
        return 2;
    }
    auto dialogs = std::make_shared<TFakeDialogs>();
    TForm1Config config;
    config.programFolder = argv[1];
    config.dialogs = dialogs;
    TForm1 form(config);
    form.FormCreate();
    form.show();

    int status = 0;
    for (int i = 2; i < argc && status == 0; ++i) {
        const std::string step = argv[i];
        const std::string arg = i + 1 < argc ? argv[i + 1] : "";
        if (step == "connect") {
            SetTextOf(form.Edit_RemoteComputerName, dz::Utf8ToCp1251(arg));
            form.SB_connectClick();
            ++i;
        } else if (step == "wait-peer") {
            status = PumpUntil([&] { return !TextOf(form.Edit_RemoteComputerIP).empty(); }) ? 0 : 1;
        } else if (step == "say") {
            SetTextOf(form.Edit_Mess, dz::Utf8ToCp1251(arg));
            quint16 key = 13;
            form.FormKeyDown(key, Qt::NoModifier);
            ++i;
        } else if (step == "wait-lines") {
            const std::size_t lines = static_cast<std::size_t>(std::atoi(arg.c_str()));
            status = PumpUntil([&] { return MemoLines(form.Memo_Mess).size() >= lines; }) ? 0 : 1;
            ++i;
        } else if (step == "wait-bye") {
            status = PumpUntil([&] { return TextOf(form.Edit_RemoteComputerIP).empty(); }) ? 0 : 1;
        } else if (step == "close") {
            form.close();
        } else {
            std::fprintf(stderr, "unknown step %s\n", step.c_str());
            status = 2;
        }
        if (status)
            std::fprintf(stderr, "step %s timed out\n", step.c_str());
    }
    std::printf("remote=%s ip=%s msg=%d send=%d\n", dz::Cp1251ToUtf8(TextOf(form.Edit_RemoteComputerName)).c_str(),
                TextOf(form.Edit_RemoteComputerIP).c_str(), form.SB_msg->isEnabled(), form.SB_send->isEnabled());
    for (const auto &line : MemoLines(form.Memo_Mess))
        std::printf("chat %s\n", dz::Cp1251ToUtf8(line).c_str());
    for (const auto &m : dialogs->messages)
        std::fprintf(stderr, "message: %s\n", m.text.toUtf8().constData());
    return status;
}
