#pragma once
// The about box AboutBox: the program's picture, name, version, credit and
// two web addresses that open in the desktop's browser when clicked.
// Shown modally by the main window (SB_HelpClick), hidden in between.

#include <QDialog>

class IDialogs;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class TAboutBox : public QDialog {
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

    IDialogs &dialogs_;
    QString text_; // Memo1's own text, without the folder
};
