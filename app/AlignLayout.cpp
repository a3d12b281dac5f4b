#include "AlignLayout.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>
#include <cmath>

TAlignLayout::TAlignLayout(QWidget *parent) : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

TAlignLayout::~TAlignLayout()
{
    for (const Entry &e : entries_)
        delete e.item;
}

void TAlignLayout::add(QWidget *widget, Align dock, int size)
{
    addChildWidget(widget);
    entries_.append({new QWidgetItem(widget), dock, size});
    invalidate();
}

void TAlignLayout::addItem(QLayoutItem *item)
{
    entries_.append({item, Align::Client, -1});
    invalidate();
}

QLayoutItem *TAlignLayout::itemAt(int index) const
{
    return index >= 0 && index < entries_.size() ? entries_[index].item : nullptr;
}

QLayoutItem *TAlignLayout::takeAt(int index)
{
    if (index < 0 || index >= entries_.size())
        return nullptr;
    QLayoutItem *item = entries_.takeAt(index).item;
    invalidate();
    return item;
}

int TAlignLayout::count() const
{
    return static_cast<int>(entries_.size());
}

int TAlignLayout::extent(const Entry &entry) const
{
    if (entry.size >= 0)
        return entry.size;
    const QSize hint = entry.item->sizeHint();
    return entry.align == Align::Top || entry.align == Align::Bottom ? hint.height() : hint.width();
}

QSize TAlignLayout::totalSize(bool minimum) const
{
    int fixedHeight = 0;
    int fixedWidth = 0;
    int crossWidth = 0;
    int crossHeight = 0;
    for (const Entry &e : entries_) {
        if (e.item->isEmpty())
            continue;
        const QSize own = minimum ? e.item->minimumSize() : e.item->sizeHint();
        switch (e.align) {
        case Align::Top:
        case Align::Bottom:
            fixedHeight += extent(e);
            crossWidth = std::max(crossWidth, minimum ? 0 : own.width());
            break;
        case Align::Left:
        case Align::Right:
            fixedWidth += extent(e);
            crossHeight = std::max(crossHeight, minimum ? 0 : own.height());
            break;
        case Align::Client:
            fixedWidth += own.width();
            crossHeight = std::max(crossHeight, own.height());
            break;
        }
    }
    const QMargins m = contentsMargins();
    return {std::max(crossWidth, fixedWidth) + m.left() + m.right(),
            fixedHeight + crossHeight + m.top() + m.bottom()};
}

QSize TAlignLayout::sizeHint() const
{
    if (!hint_)
        hint_ = totalSize(false);
    return *hint_;
}

QSize TAlignLayout::minimumSize() const
{
    if (!minimum_)
        minimum_ = totalSize(true);
    return *minimum_;
}

void TAlignLayout::invalidate()
{
    hint_.reset();
    minimum_.reset();
    QLayout::invalidate();
}

void TAlignLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    QRect rest = contentsRect();
    for (const Align pass : {Align::Top, Align::Bottom, Align::Left, Align::Right, Align::Client}) {
        for (const Entry &e : entries_) {
            if (e.align != pass || e.item->isEmpty())
                continue;
            const int n = extent(e);
            switch (pass) {
            case Align::Top:
                e.item->setGeometry(QRect(rest.left(), rest.top(), rest.width(), n));
                rest.setTop(rest.top() + n);
                break;
            case Align::Bottom:
                e.item->setGeometry(QRect(rest.left(), rest.bottom() + 1 - n, rest.width(), n));
                rest.setBottom(rest.bottom() - n);
                break;
            case Align::Left:
                e.item->setGeometry(QRect(rest.left(), rest.top(), n, rest.height()));
                rest.setLeft(rest.left() + n);
                break;
            case Align::Right:
                e.item->setGeometry(QRect(rest.right() + 1 - n, rest.top(), n, rest.height()));
                rest.setRight(rest.right() - n);
                break;
            case Align::Client:
                e.item->setGeometry(rest);
                break;
            }
        }
    }
}

TStretchPlaces::TStretchPlaces(QWidget *container, int designedWidth)
    : QObject(container), container_(container), designedWidth_(designedWidth)
{
    container->installEventFilter(this);
}

void TStretchPlaces::place(QWidget *widget, const QRect &designed, double move, double grow)
{
    const auto same =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry &e) { return e.widget == widget; });
    const Entry entry {widget, designed, move, grow};
    if (same != entries_.end())
        *same = entry;
    else
        entries_.append(entry);
    apply(entry);
}

void TStretchPlaces::apply(const Entry &entry) const
{
    if (entry.widget.isNull())
        return;
    const int extra = std::max(0, container_->width() - designedWidth_);
    // Both edges rounded from the same shares, so neighbours that touch in
    // the design still touch.
    const int left = entry.designed.left() + static_cast<int>(std::lround(entry.move * extra));
    const int right = entry.designed.right() + static_cast<int>(std::lround((entry.move + entry.grow) * extra));
    entry.widget->setGeometry(QRect(QPoint(left, entry.designed.top()), QPoint(right, entry.designed.bottom())));
}

bool TStretchPlaces::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == container_ && event->type() == QEvent::Resize)
        for (const Entry &e : entries_)
            apply(e);
    return QObject::eventFilter(watched, event);
}
