#pragma once
// The about box AboutBox: the program's picture, name, version, credit and
// two web addresses that open in the desktop's browser when clicked.
// Shown modally by the main window (SB_HelpClick), hidden in between.

#include <QCoreApplication>
#include <QDialog>

#include <functional>

class IDialogs;
class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
namespace dz {
class TSettingsStore;
}

class TAboutBox : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(TAboutBox)

public:
    // dialogs reports a web address that cannot be opened; it must outlive the box.
    TAboutBox(IDialogs &dialogs, QWidget *parent = nullptr);

    QFrame *Panel1;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Label1; // the shadow over ProductName
    QLabel *Version;
    QLabel *Copyright;
    QLabel *Label3;
    QLabel *Label4;
    QPlainTextEdit *Memo1;
    QFrame *Panel2;
    QPushButton *OKButton;
    // The window's language: Auto (the desktop's), Русский, English; these
    // names are never translated. A change takes effect at the next start.
    QComboBox *Language_Choice;

    // Shows the stored language choice and puts the user's changes there,
    // then calls save (which writes the store off the window's thread);
    // settings must outlive the box.
    void UseSettings(dz::TSettingsStore &settings, std::function<void()> save);

    // Ends the text with where the program keeps its settings, lists and
    // chat log; a second call replaces the first.
    void ShowFilesFolder(const QString &folder);

    // Opens the label's own text as a web address.
    void Label3Click();
    void Label4Click();

    static const char *const kCredit;
    static const char *const kHomePage;
    static const char *const kNewsPage;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OpenLabel(QLabel *label);

    void Language_ChoiceChange(int index);

    IDialogs &dialogs_;
    dz::TSettingsStore *settings_ = nullptr;
    std::function<void()> save_;
    QString text_; // Memo1's own text, without the folder
};
