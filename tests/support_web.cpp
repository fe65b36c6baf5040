#include "support_web.h"

#include <QTcpSocket>

WebServer::WebServer(QByteArray status, QByteArray body) : m_status(std::move(status)), m_body(std::move(body))
{
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (!socket->readAll().contains("\r\n\r\n") || socket->property("done").toBool())
                    return;
                socket->setProperty("done", true);
                ++requests;
                socket->write("HTTP/1.1 " + m_status + "\r\nContent-Type: text/html\r\nContent-Length: "
                              + QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
                socket->disconnectFromHost();
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QByteArray WebServer::url(const char *path) const
{
    return "http://127.0.0.1:" + QByteArray::number(serverPort()) + path;
}
