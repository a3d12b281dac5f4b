#pragma once
// The chat: the line being typed, its send button, the log of lines (the
// newest on top) and the button that empties the log. It shows lines and
// hands over what the user typed; what is sent and stored is the window's
// to decide. GUI thread only.

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class IClock;
class IDialogs;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

class TChatPane : public QObject {
public:
    // GroupBox1 is made without a parent: the window puts it in its splitter.
    TChatPane(QObject &owner, IDialogs &dialogs, std::shared_ptr<IClock> clock);

    QGroupBox *GroupBox1;
    QFrame *Panel8;
    QToolButton *SpeedButton2; // empties the log, after asking
    QToolButton *SB_msg;
    QLineEdit *Edit_Mess;
    QPlainTextEdit *Memo_Mess;

    // SB_msg (or Enter): the typed line, trimmed (Windows-1251), not empty.
    std::function<void(const std::string &text)> onSend;
    // The log changed: lines, top to bottom (UTF-8), to be kept.
    std::function<void(std::vector<std::string> lines)> onLogChanged;

    // Takes the typed line and hands it to onSend.
    void Send();
    // The line went: the box is free for the next one.
    void Sent();
    // The line did not go: it comes back into an empty box.
    void NotSent(const std::string &text);
    // A line from name saying text, on top, at the clock's time.
    void LogLine(const std::string &name, const std::string &text);
    // SpeedButton2: empties the log once the user confirms.
    void SpeedButton2Click();
    void Load(const std::vector<std::string> &lines);
    std::vector<std::string> Lines() const;

private:
    void LogChanged();

    IDialogs &dialogs_;
    std::shared_ptr<IClock> clock_;
};
