#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace morvane::test {

// Serves one HTML page over HTTP from 127.0.0.1, for the browser window's tests. Answers
// every request with the page, in the event loop of the test.
class PageServer : public QObject {
public:
    explicit PageServer(QByteArray page) : page_(std::move(page)) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n")) {
                        return; // the rest of the request is still on its way
                    }
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(page_.size()) +
                                  "\r\nConnection: close\r\n\r\n" + page_);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/page.html").arg(server_.serverPort()));
    }

private:
    QByteArray page_;
    QTcpServer server_;
};

} // namespace morvane::test
