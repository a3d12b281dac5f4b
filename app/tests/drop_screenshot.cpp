// Developer tool, not a test: shows the main window under a real X server
// (Xvfb), drops two files on it the way the desktop does, turns to the send
// page and saves a picture as drop.png in the current folder.
//   xvfb-run -s "-screen 0 1024x768x24" build/app/tests/drop_screenshot

#include "Language.h"
#include "Form1.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    InstallLanguage(app, QStringLiteral("ru")); // the design\'s texts
    QTemporaryDir tmp;
    QList<QUrl> urls;
    for (const QString &name : {QStringLiteral("Отчёт за декабрь.doc"), QStringLiteral("фото_2006.jpg")}) {
        QFile file(tmp.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write("x");
        urls.append(QUrl::fromLocalFile(file.fileName()));
    }
    TForm1Config config;
    config.programFolder = tmp.path().toStdString() + "/";
    TForm1 form(config);
    form.FormCreate();
    form.show();
    QTimer::singleShot(500, &form, [&] {
        QMimeData mime;
        mime.setUrls(urls);
        // Qt hands a drop to the widget that took the drag's entry.
        QDragEnterEvent enter(form.rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &enter);
        QDropEvent drop(QPointF(form.rect().center()), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &drop);
        form.TN1->setCurrentIndex(1);
    });
    QTimer::singleShot(1800, &form, [&] {
        form.grab().save(QStringLiteral("drop.png"));
        app.quit();
    });
    return app.exec();
}
