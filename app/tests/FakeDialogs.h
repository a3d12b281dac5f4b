#pragma once
// Answers the program's dialogs from scripted queues and records what was
// asked. An empty queue answers like a user who cancels, so nothing waits.

#include "Clock.h"
#include "Dialogs.h"

#include <QDialog>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// One answer of the folder dialog: a folder, or a cancel.
struct TFolderAnswer {
    QString folder;
    bool cancelled = false;
};

struct TAsked {
    QString caption;
    QString text;
};

class TFakeDialogs : public IDialogs {
public:
    std::deque<QStringList> openFilesAnswers;
    std::deque<bool> confirmAnswers;
    std::deque<bool> yesNoAnswers;
    std::deque<TFolderAnswer> folderAnswers;
    std::function<int(QDialog &)> onExecModal;
    bool openUrlResult = true; // what the desktop answers to every open

    int openFilesCalls = 0;
    TOpenDialogOptions lastOpenOptions;
    std::vector<TAsked> confirms;
    std::vector<TAsked> questions;
    std::vector<TAsked> messages;
    std::vector<TAsked> notices;
    std::vector<QString> folderStarts;
    std::vector<QDialog *> modalDialogs;
    std::vector<QUrl> openedUrls;

    QStringList openFiles(QWidget *, const TOpenDialogOptions &options) override
    {
        ++openFilesCalls;
        lastOpenOptions = options;
        return Take(openFilesAnswers, QStringList());
    }
    bool confirm(QWidget *, const QString &caption, const QString &text) override
    {
        confirms.push_back({caption, text});
        return Take(confirmAnswers, false);
    }
    bool askYesNo(QWidget *, const QString &caption, const QString &text) override
    {
        questions.push_back({caption, text});
        return Take(yesNoAnswers, false);
    }
    void message(QWidget *, const QString &caption, const QString &text) override
    {
        messages.push_back({caption, text});
    }
    void notice(QWidget *, const QString &caption, const QString &text) override
    {
        notices.push_back({caption, text});
    }
    std::optional<QString> selectFolder(QWidget *, const QString &, const QString &start) override
    {
        folderStarts.push_back(start);
        const TFolderAnswer answer = Take(folderAnswers, TFolderAnswer{QString(), true});
        if (answer.cancelled)
            return std::nullopt;
        return answer.folder;
    }
    int execModal(QDialog &dialog) override
    {
        modalDialogs.push_back(&dialog);
        return onExecModal ? onExecModal(dialog) : QDialog::Rejected;
    }
    bool openUrl(const QUrl &url) override
    {
        openedUrls.push_back(url);
        return openUrlResult;
    }

private:
    template <typename T>
    static T Take(std::deque<T> &queue, T fallback)
    {
        if (!queue.empty()) {
            std::swap(fallback, queue.front());
            queue.pop_front();
        }
        return fallback;
    }
};

class TFakeClock : public IClock {
public:
    QDateTime time = QDateTime(QDate(2006, 12, 22), QTime(14, 3, 27));
    QDateTime now() const override { return time; }
};
