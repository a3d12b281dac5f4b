#include "Widgets.h"

#include "Accessibility.h"
#include "Controls.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>

QSize TRowHeightDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(13);
    return size;
}

namespace {

// The menu key (or Shift+F10) asks for a list's context menu at its current
// row, as a right click on that row does.
class TMenuKey : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Menu && !(key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier))
            return false;
        auto *list = static_cast<QListView *>(watched);
        emit list->customContextMenuRequested(list->visualRect(list->currentIndex()).center());
        return true;
    }
};

} // namespace

QFrame *MakePanel(QWidget *parent, const char *name, TBevel bevel)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    switch (bevel) {
    case TBevel::None:
        panel->setFrameStyle(QFrame::NoFrame);
        break;
    case TBevel::Raised:
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setLineWidth(1);
        break;
    case TBevel::Lowered:
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(1);
        break;
    case TBevel::LoweredTwice: // lowered outer and inner bevels
        panel->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        break;
    }
    return panel;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLabel *PlaceLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    QLabel *label = MakeLabel(parent, name, text);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QToolButton *MakeButton(QWidget *parent, const char *name, TButtonPicture picture, QRect place, const QString &hint,
                        bool showHint, const QString &accessibleName)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    // Reached by Tab, not taken by a click: a click keeps the focus where
    // the user types.
    button->setFocusPolicy(Qt::TabFocus);
    button->setIcon(ButtonIcon(picture));
    button->setIconSize(QSize(16, 16));
    button->setGeometry(place);
    button->setProperty("hint", hint);
    button->setAccessibleName(accessibleName.isEmpty() ? hint : accessibleName);
    if (showHint)
        button->setToolTip(hint);
    return button;
}

QLineEdit *MakeEdit(QWidget *parent, const char *name, QRect place, bool readOnly)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(place);
    edit->setAcceptDrops(false); // dropped files go to the window
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, readOnly ? kSilver : QColor(Qt::white));
    edit->setPalette(palette);
    if (readOnly)
        MarkReadOnly(edit); // still a tab stop: its text can be selected and copied
    return edit;
}

void SetSilver(QWidget *widget)
{
    QPalette silver = widget->palette();
    silver.setColor(QPalette::Base, kSilver);
    widget->setPalette(silver);
}

void SetTextColour(QLabel *label, const QColor &text, const QColor &background)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, text);
    if (background.isValid()) {
        p.setColor(QPalette::Window, background);
        label->setAutoFillBackground(true);
    }
    label->setPalette(p);
}

void FitFlag(QLabel *label, int designedWidth)
{
    label->setAlignment(Qt::AlignCenter);
    SetTextColour(label, Qt::red, Qt::yellow);
    label->setContentsMargins(3, 0, 3, 0);
    label->setMinimumWidth(designedWidth);
    label->hide();
}

QListView *MakeList(QWidget *parent, const char *name)
{
    auto *list = new QListView(parent);
    list->setObjectName(QLatin1String(name));
    MarkRowList(list);
    list->installEventFilter(new TMenuKey(list));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    list->setItemDelegate(new TRowHeightDelegate(list));
    list->setAcceptDrops(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setMinimumSize(1, 1); // the splitter may make it as small as the user likes
    SetSilver(list);
    return list;
}

QTimer *MakeTimer(QObject *parent, const char *name)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(QLatin1String(name));
    timer->setInterval(1000);
    // A coarse timer may fire up to 50 ms early; the send run's pacing and
    // the clock's seconds want the whole second.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}
