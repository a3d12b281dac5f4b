#include "Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>

#include <functional>
#include <unordered_map>
#include <vector>

namespace {

const char kRowListProperty[] = "dzRowList";
const char kRoleProperty[] = "dzAccessibleRole";

// One row of a list, for as long as the rows keep their places: the list
// drops every row it handed out when rows come or go.
class TRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TRowAccessible(QListView *list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && list_->model() && row_ < list_->model()->rowCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(list_.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || t != QAccessible::Name)
            return {};
        const QString spoken = Index().data(Qt::AccessibleTextRole).toString();
        return spoken.isEmpty() ? Index().data(Qt::DisplayRole).toString() : spoken;
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = list_->visualRect(Index());
        return QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    // The bus of Qt 6.4 does not carry "checkable": a row with a check mark
    // says so by its role.
    QAccessible::Role role() const override
    {
        return isValid() && Checkable() ? QAccessible::CheckBox : QAccessible::ListItem;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const QModelIndex index = Index();
        s.selectable = s.focusable = true;
        s.selected = list_->selectionModel() && list_->selectionModel()->isSelected(index);
        s.focused = list_->hasFocus() && list_->currentIndex() == index;
        s.invisible = !list_->isVisible();
        s.offscreen = s.invisible || !list_->viewport()->rect().intersects(list_->visualRect(index));
        s.checkable = Checkable();
        s.checked = s.checkable && index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        if (!isValid())
            return {};
        QStringList names{setFocusAction()};
        if (Checkable())
            names.prepend(toggleAction());
        return names;
    }
    void doAction(const QString &name) override
    {
        if (!isValid())
            return;
        const QModelIndex index = Index();
        if (name == toggleAction() && Checkable()) {
            const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            list_->model()->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        } else if (name == setFocusAction()) {
            list_->setFocus(Qt::OtherFocusReason);
            list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        }
    }
    QStringList keyBindingsForAction(const QString &name) const override
    {
        return name == toggleAction() ? QStringList{QStringLiteral("space")} : QStringList{};
    }

private:
    QModelIndex Index() const { return list_->model()->index(row_, 0); }
    bool Checkable() const { return Index().flags().testFlag(Qt::ItemIsUserCheckable); }

    QPointer<QListView> list_;
    int row_;
};

// A list whose children are its rows (its scroll bars are parts of it).
class TRowListAccessible : public QAccessibleWidget {
public:
    explicit TRowListAccessible(QListView *list) : QAccessibleWidget(list, QAccessible::List) {}
    ~TRowListAccessible() override { Forget(); }

    int childCount() const override
    {
        Watch();
        return List()->model() ? List()->model()->rowCount() : 0;
    }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto found = rows_.find(index); found != rows_.end())
            return QAccessible::accessibleInterface(found->second);
        auto *row = new TRowAccessible(List(), index);
        rows_[index] = QAccessible::registerAccessibleInterface(row);
        return row;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (const auto &[row, id] : rows_)
            if (QAccessible::accessibleInterface(id) == child)
                return row;
        return -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QModelIndex index = List()->indexAt(List()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = List()->currentIndex();
        return List()->hasFocus() && current.isValid() ? child(current.row()) : nullptr;
    }

private:
    QListView *List() const { return static_cast<QListView *>(widget()); }

    // The list may be asked for before it has its model, or get another.
    void Watch() const
    {
        QAbstractItemModel *model = List()->model();
        if (model == watched_)
            return;
        Forget();
        for (const QMetaObject::Connection &c : watching_)
            QObject::disconnect(c);
        watched_ = model;
        if (!model)
            return;
        // Rows that come, go or move give other rows their places.
        const auto forget = [this] { Forget(); };
        watching_ = {
            QObject::connect(model, &QAbstractItemModel::rowsInserted, &watch_, forget),
            QObject::connect(model, &QAbstractItemModel::rowsRemoved, &watch_, forget),
            QObject::connect(model, &QAbstractItemModel::rowsMoved, &watch_, forget),
            QObject::connect(model, &QAbstractItemModel::modelReset, &watch_, forget),
            QObject::connect(model, &QAbstractItemModel::layoutChanged, &watch_, forget),
            QObject::connect(model, &QAbstractItemModel::dataChanged, &watch_,
                             [this](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
                                 if (roles.isEmpty() || roles.contains(Qt::CheckStateRole))
                                     CheckMarksChanged(from.row(), to.row());
                             }),
        };
    }
    void Forget() const
    {
        for (const auto &[row, id] : rows_)
            QAccessible::deleteAccessibleInterface(id);
        rows_.clear();
    }
    void CheckMarksChanged(int from, int to) const
    {
        QAccessible::State changed;
        changed.checked = true;
        for (int row = from; row <= to; ++row)
            if (const auto found = rows_.find(row); found != rows_.end()) {
                QAccessibleStateChangeEvent event(QAccessible::accessibleInterface(found->second), changed);
                QAccessible::updateAccessibility(&event);
            }
    }

    mutable QObject watch_; // the connections to the model end with it
    mutable QPointer<QAbstractItemModel> watched_;
    mutable std::vector<QMetaObject::Connection> watching_;
    mutable std::unordered_map<int, QAccessible::Id> rows_;
};

// A line box that only shows (Qt's own says "editable" over the bus even
// when it is read-only): its text can be read and selected, not changed.
class TReadOnlyBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TReadOnlyBoxAccessible(QLineEdit *edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? Edit()->text() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = false;
        s.readOnly = true;
        s.selectableText = true;
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface *>(this)
                                                  : QAccessibleWidget::interface_cast(type);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && Edit()->hasSelectedText()) {
            *start = Edit()->selectionStart();
            *end = *start + static_cast<int>(Edit()->selectedText().size());
        }
    }
    int selectionCount() const override { return Edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { Edit()->setSelection(start, end - start); }
    void removeSelection(int) override { Edit()->deselect(); }
    void setSelection(int, int start, int end) override { Edit()->setSelection(start, end - start); }
    int cursorPosition() const override { return Edit()->cursorPosition(); }
    void setCursorPosition(int position) override { Edit()->setCursorPosition(position); }
    QString text(int start, int end) const override { return Edit()->text().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(Edit()->text().size()); }
    QRect characterRect(int offset) const override
    {
        const QFontMetrics metrics(Edit()->font());
        const QString text = Edit()->text();
        const QRect box = Edit()->contentsRect();
        const int x = box.left() + metrics.horizontalAdvance(text.left(offset));
        const int width = offset < text.size() ? metrics.horizontalAdvance(text.at(offset)) : 0;
        return QRect(Edit()->mapToGlobal(QPoint(x, box.top())), QSize(width, box.height()));
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return Edit()->cursorPositionAt(Edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QLineEdit *Edit() const { return static_cast<QLineEdit *>(widget()); }
};

QAccessibleInterface *Factory(const QString &key, QObject *object)
{
    if (key == QLatin1String("QListView") && object->property(kRowListProperty).toBool())
        return new TRowListAccessible(static_cast<QListView *>(object));
    if (key == QLatin1String("QLineEdit") && static_cast<QLineEdit *>(object)->isReadOnly())
        return new TReadOnlyBoxAccessible(static_cast<QLineEdit *>(object));
    if (const QVariant role = object->property(kRoleProperty); role.isValid() && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), static_cast<QAccessible::Role>(role.toInt()));
    return nullptr;
}

} // namespace

void InstallAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

namespace {

// An interface made while the widget was being built (its creation is
// announced when accessibility is on) would be Qt's: the next query makes ours.
void Renew(QWidget *widget, const std::function<bool(QAccessibleInterface *)> &ours)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface *made = QAccessible::queryAccessibleInterface(widget);
    if (made && !ours(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace

void MarkRowList(QListView *list)
{
    InstallAccessibility();
    list->setProperty(kRowListProperty, true);
    Renew(list, [](QAccessibleInterface *made) { return dynamic_cast<TRowListAccessible *>(made) != nullptr; });
}

void SetAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    InstallAccessibility();
    widget->setProperty(kRoleProperty, static_cast<int>(role));
    Renew(widget, [role](QAccessibleInterface *made) { return made->role() == role; });
}

void MarkReadOnly(QLineEdit *edit)
{
    InstallAccessibility();
    edit->setReadOnly(true);
    Renew(edit, [](QAccessibleInterface *made) { return dynamic_cast<TReadOnlyBoxAccessible *>(made) != nullptr; });
}
