#include "Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace {

const QColor kInk(0x20, 0x20, 0x20);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kRed(0xc8, 0x10, 0x10);
const QColor kGreen(0x10, 0x90, 0x20);
const QColor kBlue(0x10, 0x40, 0xb0);
const QColor kYellow(0xf0, 0xc8, 0x30);

void Page(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.drawPath(path);
    p.setPen(QPen(QColor(0x90, 0x90, 0x90), 1));
    for (qreal y = r.top() + 4; y < r.bottom() - 1; y += 2.5)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void Plus(QPainter &p, QPointF c, const QColor &colour)
{
    p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(c + QPointF(-3.5, 0), c + QPointF(3.5, 0));
    p.drawLine(c + QPointF(0, -3.5), c + QPointF(0, 3.5));
}

void Minus(QPainter &p, QPointF c, const QColor &colour)
{
    p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(c + QPointF(-3.5, 0), c + QPointF(3.5, 0));
}

void Cross(QPainter &p, QPointF c, const QColor &colour)
{
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-3, -3), c + QPointF(3, 3));
    p.drawLine(c + QPointF(-3, 3), c + QPointF(3, -3));
}

void Bubble(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(0xff, 0xff, 0xd0));
    p.drawRoundedRect(r, 2.5, 2.5);
    QPainterPath tail;
    tail.moveTo(r.left() + 3, r.bottom());
    tail.lineTo(r.left() + 2, r.bottom() + 3);
    tail.lineTo(r.left() + 7, r.bottom());
    p.drawPath(tail);
}

void Screen(QPainter &p, const QRectF &r)
{
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(0xd8, 0xd8, 0xd8));
    p.drawRect(r);
    p.setBrush(QColor(0x20, 0x50, 0x90));
    p.drawRect(r.adjusted(1.5, 1.5, -1.5, -1.5));
    p.setBrush(QColor(0xd8, 0xd8, 0xd8));
    p.drawRect(QRectF(r.center().x() - 2, r.bottom(), 4, 1.5));
}

void Arrow(QPainter &p, QPointF from, QPointF to, const QColor &colour)
{
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::max(1.0, std::hypot(to.x() - from.x(), to.y() - from.y()));
    const QPointF n(-d.y(), d.x());
    p.drawLine(to, to - 3.5 * d + 3 * n);
    p.drawLine(to, to - 3.5 * d - 3 * n);
}

void Draw(QPainter &p, TButtonPicture picture)
{
    switch (picture) {
    case TButtonPicture::Help: {
        p.setPen(QPen(kBlue.darker(130), 1));
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(kPaper);
        p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case TButtonPicture::Connect:
        Screen(p, QRectF(0.5, 1.5, 7, 6));
        Screen(p, QRectF(8.5, 7.5, 7, 6));
        Arrow(p, QPointF(4, 11), QPointF(7, 14), kGreen);
        Arrow(p, QPointF(12, 5), QPointF(9, 2), kGreen);
        break;
    case TButtonPicture::ClearChat:
        Bubble(p, QRectF(0.5, 1.5, 12, 8));
        Cross(p, QPointF(11.5, 11.5), kRed);
        break;
    case TButtonPicture::SendMessage:
        p.setPen(QPen(kInk, 1));
        p.setBrush(kPaper);
        p.drawRect(QRectF(0.5, 3.5, 12, 9));
        p.drawLine(QPointF(0.5, 3.5), QPointF(6.5, 8.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(6.5, 8.5));
        Arrow(p, QPointF(9, 14), QPointF(15, 14), kGreen);
        break;
    case TButtonPicture::ClearReceived:
        Page(p, QRectF(1.5, 0.5, 9, 12));
        Cross(p, QPointF(11.5, 11.5), kRed);
        break;
    case TButtonPicture::Folder: {
        p.setPen(QPen(kInk.lighter(150), 1));
        p.setBrush(kYellow.darker(115));
        p.drawRect(QRectF(0.5, 3.5, 6, 3));
        p.setBrush(kYellow);
        p.drawRect(QRectF(0.5, 5.5, 15, 9));
        break;
    }
    case TButtonPicture::AddFile:
        Page(p, QRectF(1.5, 0.5, 9, 12));
        Plus(p, QPointF(11.5, 11.5), kGreen);
        break;
    case TButtonPicture::AddFolder:
        p.setPen(QPen(kInk.lighter(150), 1));
        p.setBrush(kYellow.darker(115));
        p.drawRect(QRectF(0.5, 1.5, 5, 2));
        p.setBrush(kYellow);
        p.drawRect(QRectF(0.5, 3.5, 12, 8));
        Plus(p, QPointF(11.5, 11.5), kGreen);
        break;
    case TButtonPicture::DeleteFile:
        Page(p, QRectF(1.5, 0.5, 9, 12));
        Minus(p, QPointF(11.5, 11.5), kRed);
        break;
    case TButtonPicture::ClearList:
        Page(p, QRectF(3.5, 0.5, 9, 10));
        Page(p, QRectF(0.5, 3.5, 9, 10));
        Cross(p, QPointF(12, 12), kRed);
        break;
    case TButtonPicture::SendFiles:
        Page(p, QRectF(0.5, 0.5, 8, 10));
        Screen(p, QRectF(8.5, 7.5, 7, 6));
        Arrow(p, QPointF(3, 13.5), QPointF(7.5, 13.5), kGreen);
        break;
    case TButtonPicture::Stop: {
        // A stop sign: a red octagon with a white bar.
        QPainterPath octagon;
        const QPointF c(8, 8);
        for (int i = 0; i < 8; ++i) {
            const double a = (22.5 + 45.0 * i) * M_PI / 180.0;
            const QPointF corner = c + QPointF(7 * std::cos(a), 7 * std::sin(a));
            if (i == 0)
                octagon.moveTo(corner);
            else
                octagon.lineTo(corner);
        }
        octagon.closeSubpath();
        p.setPen(QPen(kRed.darker(140), 1));
        p.setBrush(kRed);
        p.drawPath(octagon);
        p.setPen(QPen(kPaper, 2, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
        break;
    }
    }
}

} // namespace

QIcon ButtonIcon(TButtonPicture picture)
{
    // The pictures are drawn on a 16-unit grid; each size is drawn anew at
    // its own scale, so a screen at 1.5x or 2x gets sharp edges rather than
    // an enlarged 16x16 picture.
    QIcon icon;
    for (const int side : kIconSides) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        {
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setRenderHint(QPainter::TextAntialiasing, true);
            p.scale(side / 16.0, side / 16.0);
            Draw(p, picture);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
