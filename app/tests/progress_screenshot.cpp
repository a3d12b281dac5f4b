// Developer tool, not a test: two windows under a real X server (Xvfb) in
// one process, the first sending a batch to the second through a stream that
// the second's disk takes slowly (a stand-in that stops reading for a while),
// and pictures of both while a file is on its way: sending.png and
// receiving.png in the current folder. Optional arguments: the language
// (ru, the default, or en) and the windows' size (the least by default),
// which also draws the chat down and puts a few lines in it.
//   xvfb-run -s "-screen 0 1024x768x24" build/app/tests/progress_screenshot [en 520x460]

#include "Language.h"
#include "Controls.h"
#include "Form1.h"
#include "peer/core.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QSplitter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString language = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("ru"); // the design's texts
    InstallLanguage(app, language);
    const QStringList size = argc > 2 ? QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x')) : QStringList();
    const bool large = size.size() == 2;
    QTemporaryDir tmp;
    const std::string root = tmp.path().toStdString() + "/";
    for (const char *sub : {"a", "b", "in"})
        QDir(tmp.path()).mkpath(QString::fromLatin1(sub));
    auto make = [&](const char *sub, const char *name) {
        TForm1Config config;
        config.programFolder = root + sub + "/";
        config.msgPort = 0;
        config.strmPort = 0;
        config.discovery = false; // two windows in one process
        auto form = std::make_unique<TForm1>(config);
        form->FormCreate();
        form->SetThisComputer(name, name);
        return form;
    };
    auto a = make("a", "127.0.0.1");
    auto b = make("b", "127.0.0.2");
    a->NMMsg1->Port = b->NMMSGServ1->LocalPort();
    a->NMStrm1->Port = b->NMStrmServ1->LocalPort();
    b->NMMsg1->Port = a->NMMSGServ1->LocalPort();
    b->NMStrm1->Port = a->NMStrmServ1->LocalPort();
    b->ShowReceiveFolder(root + "in/");
    // Files in the list, one large enough to be seen on its way.
    const char *names[] = {"Отпуск 2006.avi", "Смета.xls", "Отчёт за декабрь.doc"};
    const long long sizes[] = {3LL << 30, 120 << 10, 40 << 10};
    for (int i = 0; i < 3; ++i) {
        const std::string path = root + names[i];
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd >= 0 && ::ftruncate(fd, sizes[i]) == 0)
            ::close(fd);
        AddRowUtf8(a->ListF_send, path, true, true);
    }
    if (large) {
        for (TForm1 *f : {a.get(), b.get()}) {
            f->resize(size[0].toInt(), size[1].toInt());
            f->Splitter1->setSizes({140, 10000});
        }
    }
    a->move(10, 10);
    b->move(20 + a->width(), 10);
    a->show();
    b->show();
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.2"));
    a->SB_connectClick();
    QTimer::singleShot(600, a.get(), [&] {
        if (!large)
            return;
        const bool english = language == QLatin1String("en");
        a->Edit_Mess->setText(english ? QStringLiteral("Sending the holiday film and the budget")
                                      : QStringLiteral("Посылаю фильм с отпуска и смету"));
        a->SB_msgClick();
        b->Edit_Mess->setText(english ? QStringLiteral("Thanks, the folder is ready")
                                      : QStringLiteral("Спасибо, папка готова"));
        b->SB_msgClick();
    });
    QTimer::singleShot(800, a.get(), [&] {
        a->TN1->setCurrentIndex(1);
        a->SB_sendClick();
    });
    QTimer::singleShot(3000, a.get(), [&] {
        a->grab().save(QStringLiteral("sending.png"));
        b->grab().save(QStringLiteral("receiving.png"));
        a->CancelRun();
        // exit, not quit: a window saying its goodbye declines a close, and quit asks the windows first.
        QTimer::singleShot(500, &app, [&app] { app.exit(0); });
    });
    return app.exec();
}
