#include "About.h"

#include "AboutPicture.h"
#include "AlignLayout.h"
#include "Controls.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Jpeg.h"
#include "Language.h"
#include "Shell.h"
#include "util/codepage.h"
#include "util/settings.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

const char *const TAboutBox::kCredit = "(c) 2006 Dizaruz developers";
const char *const TAboutBox::kHomePage = "https://dizaruz.example.org/";
const char *const TAboutBox::kNewsPage = "https://dizaruz.example.org/news/";

namespace {

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

} // namespace

TAboutBox::TAboutBox(IDialogs &dialogs, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      dialogs_(dialogs)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(tr("About"));
    setFixedSize(298, 268);
    setSizeGripEnabled(false);
    const QFont font = WindowFont();
    setFont(font);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    auto *layout = new TAlignLayout(this);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setLineWidth(1);
    layout->add(Panel2, TAlignLayout::Align::Bottom, 27);
    OKButton = new QPushButton(tr("OK"), Panel2);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(23, 1, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    Language_Choice = new QComboBox(Panel2);
    Language_Choice->setObjectName(QStringLiteral("Language_Choice"));
    // In their own language each, so anyone finds theirs.
    Language_Choice->addItem(QStringLiteral("Auto"), static_cast<int>(TLanguageChoice::Auto));
    Language_Choice->addItem(QStringLiteral("Русский"), static_cast<int>(TLanguageChoice::Russian));
    Language_Choice->addItem(QStringLiteral("English"), static_cast<int>(TLanguageChoice::English));
    Language_Choice->setGeometry(160, 2, 115, 22);
    Language_Choice->setToolTip(tr("Язык"));
    Language_Choice->setAccessibleName(tr("Язык"));
    Language_Choice->setEnabled(false); // until there is a store to keep the choice
    connect(Language_Choice, &QComboBox::activated, this,
            [this](int index) { RunGuarded([this, index] { Language_ChoiceChange(index); }); });

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    layout->add(Panel1, TAlignLayout::Align::Client);
    auto *inner = new TAlignLayout(Panel1);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 65, 89);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(QPixmap::fromImage(DecodeJpeg(kAboutPictureJpeg, kAboutPictureJpegSize)));

    QFont title = font;
    title.setBold(true);
    title.setPixelSize(19);
    ProductName = MakeLabel(Panel1, "ProductName", QStringLiteral("Dizaruz"), 88, 16);
    ProductName->setFont(title);
    ProductName->adjustSize();
    QPalette white = ProductName->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    ProductName->setPalette(white);
    // Drawn over ProductName one pixel down and right, so the white text reads as its highlight.
    Label1 = MakeLabel(Panel1, "Label1", QStringLiteral("Dizaruz"), 89, 17);
    Label1->setFont(title);
    Label1->adjustSize();
    Label1->setAttribute(Qt::WA_TranslucentBackground);
    Label1->setAutoFillBackground(false);

    Version = MakeLabel(Panel1, "Version", QStringLiteral("Version  1.00    [22.12.2006]"), 88, 48);
    Copyright = MakeLabel(Panel1, "Copyright", QString::fromLatin1(kCredit), 88, 72);

    QFont link = font;
    link.setBold(true);
    link.setPixelSize(13);
    for (QLabel **label : {&Label3, &Label4}) {
        const bool first = label == &Label3;
        *label = MakeLabel(Panel1, first ? "Label3" : "Label4",
                           QString::fromLatin1(first ? kHomePage : kNewsPage), 16, first ? 104 : 120);
        (*label)->setFont(link);
        (*label)->adjustSize();
        QPalette blue = (*label)->palette();
        blue.setColor(QPalette::WindowText, Qt::blue);
        (*label)->setPalette(blue);
        (*label)->setCursor(Qt::PointingHandCursor);
        (*label)->installEventFilter(this);
    }

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette silver = Memo1->palette();
    silver.setColor(QPalette::Base, kSilver);
    Memo1->setPalette(silver);
    const QStringList lines = {
        QStringLiteral("Dizaruz.exe"),
        QStringLiteral("==============="),
        QString(),
        tr("Программа позволяет копировать файлы "),
        tr("по сети, не используя для этого"),
        tr("сетевые диски."),
        QString(),
        tr("Чтобы пересылать файлы между двумя "),
        tr("компьютерами - эта программа"),
        tr("должна быть запущена на обоих компьютерах."),
        QString(),
        tr("Интерфейс программы прост и не требует "),
        tr("пояснений."),
        QString(),
        tr("При выборе файлов для копирования - "),
        tr("поддерживается "),
        tr("механизим Drag and Drop."),
        QString(),
        QString(),
        tr("Используемые порты : 573 и 574."),
        QString(),
        QString(),
        QStringLiteral("================="),
        QString::fromLatin1(kCredit),
        QString::fromLatin1(kHomePage),
        QString::fromLatin1(kNewsPage),
        QString(),
    };
    text_ = lines.join(QLatin1Char('\n'));
    Memo1->setPlainText(text_);
    inner->add(Memo1, TAlignLayout::Align::Bottom, 95);
}

void TAboutBox::ShowFilesFolder(const QString &folder)
{
    Memo1->setPlainText(text_ + QLatin1Char('\n') + tr("Настройки, списки файлов и сообщения")
                        + QLatin1Char('\n') + tr("хранятся в папке :") + QLatin1Char('\n') + folder
                        + QLatin1Char('\n'));
}

void TAboutBox::Label3Click()
{
    OpenLabel(Label3);
}

void TAboutBox::Label4Click()
{
    OpenLabel(Label4);
}

void TAboutBox::OpenLabel(QLabel *label)
{
    OpenDocument(dialogs_, true, this, dz::FromQString(label->text()), 5);
}

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == Label3) {
            RunGuarded([this] { Label3Click(); });
            return true;
        }
        if (watched == Label4) {
            RunGuarded([this] { Label4Click(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::UseSettings(dz::TSettingsStore &settings, std::function<void()> save)
{
    settings_ = &settings;
    save_ = std::move(save);
    const int index = Language_Choice->findData(static_cast<int>(StoredLanguageChoice(settings)));
    Language_Choice->setCurrentIndex(index < 0 ? 0 : index);
    Language_Choice->setEnabled(true);
}

void TAboutBox::Language_ChoiceChange(int index)
{
    if (settings_ == nullptr)
        return;
    const auto choice = static_cast<TLanguageChoice>(Language_Choice->itemData(index).toInt());
    if (choice == StoredLanguageChoice(*settings_))
        return;
    settings_->SetValue(QStringLiteral("language"), LanguageChoiceValue(choice));
    if (save_)
        save_();
    dialogs_.message(this, windowTitle(), tr("Язык окна сменится при следующем запуске программы."));
}
