#include "banner/urllabel.h"

#include <QMouseEvent>

namespace tlg {

URLLabel::URLLabel(QWidget* parent) : URLLabel(QString(), parent) {}

URLLabel::URLLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
    m_colorOnEnter = Qt::red;
    setColorOnExit(Qt::blue);
}

void URLLabel::setColorOnExit(const QColor& colour)
{
    m_colorOnExit = colour;
    setTextColour(colour);
}

void URLLabel::setUrl(const QString& url)
{
    m_url = url;
    setToolTip(url);
}

void URLLabel::setLinkBorderstyle(bool on)
{
    m_linkBorderstyle = on;
}

QColor URLLabel::textColour() const
{
    return palette().color(QPalette::WindowText);
}

void URLLabel::setTextColour(const QColor& colour)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
}

void URLLabel::enterEvent(QEnterEvent* event)
{
    setTextColour(m_colorOnEnter);
    if (m_linkUnderline) {
        QFont f = font();
        f.setUnderline(true);
        setFont(f);
    }
    if (m_linkBorderstyle) {
        // The frame of this very label, as it is now, is the one to give back.
        m_restoreFrameStyle = frameStyle();
        m_framedByHover = true;
        setFrameStyle(QFrame::Box | QFrame::Plain);
    }
    QLabel::enterEvent(event);
}

void URLLabel::leaveEvent(QEvent* event)
{
    setTextColour(m_colorOnExit);
    QFont f = font();
    f.setUnderline(false);
    setFont(f);
    if (m_framedByHover) {
        m_framedByHover = false;
        setFrameStyle(m_restoreFrameStyle);
    }
    QLabel::leaveEvent(event);
}

void URLLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void URLLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click) {
        emit clicked();
    }
}

} // namespace tlg
