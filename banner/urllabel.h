#pragma once

// A text that looks like a link: its colour changes while the mouse is over it, and it can be
// underlined or framed meanwhile. It opens nothing itself; its owner connects clicked().

#include <QColor>
#include <QLabel>

namespace tlg {

class URLLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QColor ColorOnenter READ colorOnEnter WRITE setColorOnEnter)
    Q_PROPERTY(QColor ColorOnExit READ colorOnExit WRITE setColorOnExit)
    Q_PROPERTY(QString URL READ url WRITE setUrl)
    Q_PROPERTY(bool LinkUnderline READ linkUnderline WRITE setLinkUnderline)
    Q_PROPERTY(bool LinkBorderstyle READ linkBorderstyle WRITE setLinkBorderstyle)

public:
    // Red under the mouse, blue otherwise, no underline, no border change.
    explicit URLLabel(QWidget* parent = nullptr);
    explicit URLLabel(const QString& text, QWidget* parent = nullptr);

    // The text colour while the mouse is over the label.
    QColor colorOnEnter() const { return m_colorOnEnter; }
    void setColorOnEnter(const QColor& colour) { m_colorOnEnter = colour; }
    // The text colour otherwise; setting it also colours the text now.
    QColor colorOnExit() const { return m_colorOnExit; }
    void setColorOnExit(const QColor& colour);
    // An address kept with the label and shown as its tool tip; nothing opens it.
    QString url() const { return m_url; }
    void setUrl(const QString& url);
    // Underline the text while the mouse is over the label. Leaving always removes the
    // underline, whatever this says.
    bool linkUnderline() const { return m_linkUnderline; }
    void setLinkUnderline(bool on) { m_linkUnderline = on; }
    // Frame the label with a single line while the mouse is over it; leaving gives back the
    // frame it had.
    bool linkBorderstyle() const { return m_linkBorderstyle; }
    void setLinkBorderstyle(bool on);

    // The colour the text has now.
    QColor textColour() const;

signals:
    // A left click: pressed and released over the label.
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setTextColour(const QColor& colour);

    QColor m_colorOnEnter;
    QColor m_colorOnExit;
    QString m_url;
    bool m_linkUnderline = false;
    bool m_linkBorderstyle = false;
    int m_restoreFrameStyle = 0; // the frame to give back when the mouse leaves
    bool m_framedByHover = false;
    bool m_pressed = false;
};

} // namespace tlg
