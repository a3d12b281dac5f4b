#include "Controls.h"

#include "peer/receivelog.h"
#include "peer/sendlist.h"
#include "util/codepage.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QTextBlock>

QFont WindowFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

std::string TextOf(const QLineEdit *edit)
{
    return dz::FromQString(edit->text());
}

std::string TextOf(const QLabel *label)
{
    return dz::FromQString(label->text());
}

void SetTextOf(QLineEdit *edit, const std::string &text)
{
    edit->setText(dz::ToQString(text));
}

void SetTextOf(QLabel *label, const std::string &text)
{
    label->setText(dz::ToQString(text));
}

namespace {

QString FromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int Count(const QListView *list)
{
    return list->model() ? list->model()->rowCount() : 0;
}

QString RowString(const QListView *list, int row)
{
    if (row < 0 || row >= Count(list))
        return {};
    return list->model()->index(row, 0).data(Qt::DisplayRole).toString();
}

void InsertItem(QListView *list, int row, const QString &text, bool checkable, bool checked)
{
    if (auto *send = dynamic_cast<dz::peer::TSendListModel *>(list->model())) {
        // The send list only grows at its end.
        send->Append(text, !checkable || checked);
    } else if (auto *log = dynamic_cast<dz::peer::TReceiveLogModel *>(list->model())) {
        log->Insert(row < 0 ? log->Count() : row, text, {});
    }
}

} // namespace

int RowCount(const QListView *list)
{
    return Count(list);
}

std::vector<std::string> ListRows(const QListView *list)
{
    std::vector<std::string> rows;
    for (int i = 0; i < Count(list); ++i)
        rows.push_back(dz::FromQString(RowString(list, i)));
    return rows;
}

std::string RowText(const QListView *list, int row)
{
    return dz::FromQString(RowString(list, row));
}

void AddRow(QListView *list, const std::string &text, bool checkable, bool checked)
{
    InsertItem(list, -1, dz::ToQString(text), checkable, checked);
}

void AddRowUtf8(QListView *list, const std::string &text, bool checkable, bool checked)
{
    InsertItem(list, -1, FromUtf8(text), checkable, checked);
}

void InsertRow(QListView *list, int row, const std::string &text)
{
    InsertItem(list, row, dz::ToQString(text), false, false);
}

void InsertRowUtf8(QListView *list, int row, const std::string &text)
{
    InsertItem(list, row, FromUtf8(text), false, false);
}

std::string RowUtf8(const QListView *list, int row)
{
    return RowString(list, row).toStdString();
}

std::vector<std::string> ListUtf8(const QListView *list)
{
    std::vector<std::string> rows;
    for (int i = 0; i < Count(list); ++i)
        rows.push_back(RowString(list, i).toStdString());
    return rows;
}

std::vector<std::string> MemoUtf8(const QPlainTextEdit *memo)
{
    std::vector<std::string> lines;
    const QTextDocument *doc = memo->document();
    if (doc->isEmpty())
        return lines;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        lines.push_back(b.text().toStdString());
    return lines;
}

void SetMemoUtf8(QPlainTextEdit *memo, const std::vector<std::string> &lines)
{
    QStringList text;
    for (const auto &line : lines)
        text.append(FromUtf8(line));
    memo->setPlainText(text.join(QLatin1Char('\n')));
}

bool RowChecked(const QListView *list, int row)
{
    if (row < 0 || row >= Count(list))
        return false;
    return list->model()->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
}

int ItemIndex(const QListView *list)
{
    const QModelIndex current = list->currentIndex();
    return current.isValid() && list->selectionModel()->isSelected(current) ? current.row() : -1;
}

void SetItemIndex(QListView *list, int row)
{
    if (row < 0 || row >= Count(list)) {
        list->selectionModel()->clear();
        return;
    }
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
}

std::vector<std::string> MemoLines(const QPlainTextEdit *memo)
{
    std::vector<std::string> lines;
    const QTextDocument *doc = memo->document();
    if (doc->isEmpty())
        return lines;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        lines.push_back(dz::FromQString(b.text()));
    return lines;
}

void SetMemoLines(QPlainTextEdit *memo, const std::vector<std::string> &lines)
{
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const auto &line : lines)
        text.append(dz::ToQString(line));
    memo->setPlainText(text.join(QLatin1Char('\n')));
}

quint16 KeyCodeOf(const QKeyEvent *event)
{
    const int key = event->key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    default:
        break;
    }
    if (key == Qt::Key_Space || (key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return static_cast<quint16>(key);
    return 0;
}
