#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <iterator>

namespace tlg {

namespace {

const QColor kRed(200, 0, 0);
const QColor kBlue(0, 70, 200);
const QColor kGreen(0, 140, 60);
const QColor kDark(60, 60, 60);

void letterInCircle(QPainter& p, const QColor& fill, const QString& letter)
{
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, letter);
}

// A circular arrow, the sign of reloading.
void circularArrow(QPainter& p, const QColor& colour)
{
    p.setPen(QPen(colour, 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 280 * 16);
    QPainterPath head;
    head.moveTo(9, 1);
    head.lineTo(14, 4);
    head.lineTo(9, 7.5);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(head);
}

void paint(QPainter& p, int number)
{
    switch (number) {
    case 0: // show errors
        letterInCircle(p, kRed, QStringLiteral("!"));
        break;
    case 2: // show warnings (info words)
        letterInCircle(p, kBlue, QStringLiteral("i"));
        break;
    case 5: // options: three sliders
        p.setPen(QPen(kDark, 1));
        for (int y : {3, 8, 13})
            p.drawLine(2, y, 14, y);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRect(4, 1, 3, 4);
        p.drawRect(10, 6, 3, 4);
        p.drawRect(6, 11, 3, 4);
        break;
    case 6: // search: a magnifying glass
        p.setPen(QPen(kDark, 2));
        p.setBrush(QColor(200, 230, 255));
        p.drawEllipse(QRectF(2, 2, 8, 8));
        p.setPen(QPen(kDark, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 10), QPointF(14, 14));
        break;
    case 7: { // format text: a red and a blue bar beside black lines
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawRect(1, 2, 6, 3);
        p.setBrush(kBlue);
        p.drawRect(1, 10, 6, 3);
        p.setBrush(kDark);
        p.drawRect(9, 2, 6, 2);
        p.drawRect(9, 6, 6, 2);
        p.drawRect(9, 10, 6, 2);
        break;
    }
    case 8: { // reload alert: a red warning triangle
        QPainterPath triangle;
        triangle.moveTo(8, 1);
        triangle.lineTo(15, 14.5);
        triangle.lineTo(1, 14.5);
        triangle.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 40, 0));
        p.drawPath(triangle);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(7, 5, 2, 5));
        p.drawRect(QRectF(7, 11.5, 2, 2));
        break;
    }
    case 9: // go to bottom: an arrow onto a bar
        p.setPen(QPen(kDark, 2));
        p.drawLine(8, 1, 8, 10);
        p.drawLine(4, 6, 8, 10);
        p.drawLine(12, 6, 8, 10);
        p.drawLine(2, 14, 14, 14);
        break;
    case 10: { // view Unicode: a "U" in a box
        p.setPen(QPen(kDark, 1));
        p.setBrush(QColor(255, 250, 210));
        p.drawRect(1, 1, 13, 13);
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(kBlue);
        p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("U"));
        break;
    }
    case 11: // auto refresh: a green circular arrow
        circularArrow(p, kGreen);
        break;
    case 12: // reload: a blue circular arrow
        circularArrow(p, kBlue);
        break;
    case 13: // file list: lines with bullets
        p.setPen(Qt::NoPen);
        for (int y : {2, 7, 12}) {
            p.setBrush(kBlue);
            p.drawRect(1, y, 3, 3);
            p.setBrush(kDark);
            p.drawRect(6, y + 1, 9, 1);
        }
        break;
    default:
        break;
    }
}

} // namespace

QIcon toolbarPicture(int number)
{
    static constexpr int kNumbers[] = {0, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    if (std::find(std::begin(kNumbers), std::end(kNumbers), number) == std::end(kNumbers))
        return QIcon();
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter, number);
    painter.end();
    return QIcon(pixmap);
}

} // namespace tlg
