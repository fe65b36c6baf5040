#pragma once
// A small web server on the loopback for tests of the preview's network behaviour.

#include <QByteArray>
#include <QTcpServer>

// Answers every request with one status and body; counts the requests.
class WebServer : public QTcpServer {
public:
    WebServer(QByteArray status, QByteArray body);
    // The address of `path` on this server.
    QByteArray url(const char *path) const;
    int requests = 0;

private:
    QByteArray m_status, m_body;
};
