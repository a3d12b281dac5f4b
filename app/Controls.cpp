#include "Controls.h"

#include "util/codepage.h"

#include <QFontDatabase>
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

std::vector<std::string> ListRows(const QListWidget *list)
{
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(list->count()));
    for (int i = 0; i < list->count(); ++i)
        rows.push_back(dz::FromQString(list->item(i)->text()));
    return rows;
}

std::string RowText(const QListWidget *list, int row)
{
    const QListWidgetItem *item = list->item(row);
    return item ? dz::FromQString(item->text()) : std::string();
}

namespace {

QString FromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void AddItem(QListWidget *list, const QString &text, bool checkable, bool checked)
{
    auto *item = new QListWidgetItem(text);
    if (checkable) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    } else {
        // Qt makes every row checkable unless told otherwise.
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    }
    list->addItem(item);
}

void InsertItem(QListWidget *list, int row, const QString &text)
{
    auto *item = new QListWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    list->insertItem(row, item);
}

} // namespace

void AddRow(QListWidget *list, const std::string &text, bool checkable, bool checked)
{
    AddItem(list, dz::ToQString(text), checkable, checked);
}

void AddRowUtf8(QListWidget *list, const std::string &text, bool checkable, bool checked)
{
    AddItem(list, FromUtf8(text), checkable, checked);
}

void InsertRow(QListWidget *list, int row, const std::string &text)
{
    InsertItem(list, row, dz::ToQString(text));
}

void InsertRowUtf8(QListWidget *list, int row, const std::string &text)
{
    InsertItem(list, row, FromUtf8(text));
}

std::string RowUtf8(const QListWidget *list, int row)
{
    const QListWidgetItem *item = list->item(row);
    return item ? item->text().toStdString() : std::string();
}

std::vector<std::string> ListUtf8(const QListWidget *list)
{
    std::vector<std::string> rows;
    for (int i = 0; i < list->count(); ++i)
        rows.push_back(list->item(i)->text().toStdString());
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

bool RowChecked(const QListWidget *list, int row)
{
    const QListWidgetItem *item = list->item(row);
    return item && item->checkState() == Qt::Checked;
}

int ItemIndex(const QListWidget *list)
{
    const QListWidgetItem *item = list->currentItem();
    return item && item->isSelected() ? list->row(item) : -1;
}

void SetItemIndex(QListWidget *list, int row)
{
    if (row < 0 || row >= list->count()) {
        list->setCurrentItem(nullptr);
        list->clearSelection();
        return;
    }
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
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
