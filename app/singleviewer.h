#pragma once

// One viewer per user and display: a second start hands the logs it was given to the viewer
// already running, over a local socket, and ends.

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace tlg {

// The socket the running viewer listens on, as a full path:
// $XDG_RUNTIME_DIR/tlgview-<display>.socket, or <temp>/tlgview-<uid>-<display>.socket when
// XDG_RUNTIME_DIR is not set. <display> is $WAYLAND_DISPLAY, else $DISPLAY, with any character
// other than A-Z a-z 0-9 . _ - turned to '_', or "nodisplay". Read from the environment at
// each call.
QString ViewerSocketPath();

// Hands `paths` (relative ones made absolute against the working folder) to the viewer that
// listens on ViewerSocketPath(), which opens them and comes to the front (with no path it only
// comes to the front). True only when that viewer acknowledged them within `timeoutMs`; false
// at once when no viewer listens. Needs no event loop.
bool HandOverToRunningViewer(const QStringList& paths, int timeoutMs);

// The running viewer's side: listens on ViewerSocketPath() and emits the paths each hand-over
// brings, after acknowledging it. A socket file left by a viewer that crashed is replaced; the
// name of a viewer that still answers is left to it, and this listener does not listen.
// A message that is too large or malformed drops its connection and emits nothing.
class ViewerListener : public QObject {
    Q_OBJECT

public:
    explicit ViewerListener(QObject* parent = nullptr);
    ~ViewerListener() override;

    bool isListening() const;

signals:
    void pathsReceived(const QStringList& paths);

private:
    void listen(const QString& path);
    void acceptConnections();
    void readMessage(QLocalSocket* socket);

    QLocalServer* m_server;
};

} // namespace tlg
