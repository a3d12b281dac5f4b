// Dizaruz: copies files between two computers on a LAN and carries a chat
// between them. Takes no arguments and reads no environment variables.

#include "Form1.h"
#include "Guard.h"

#include <QApplication>

namespace {

// The last line of defence: a handler that slipped past RunGuarded still
// reaches the general error report instead of unwinding through Qt.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        bool result = false;
        RunGuarded([&] { result = QApplication::notify(receiver, event); });
        return result;
    }
};

} // namespace

int main()
{
    int argc = 1;
    char name[] = "dizaruz";
    char *argv[] = {name, nullptr};
    TApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Dizaruz"));

    TForm1 Form1;
    Form1.FormCreate();
    Form1.AboutBox(); // made now, hidden until SB_Help shows it
    Form1.show();
    return app.exec();
}
