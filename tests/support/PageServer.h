#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

namespace morvane::test {

// What the server sends for one request.
struct PageReply {
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray body;
    int delayMs = 0; // how long the answer waits
};

// Serves HTML over HTTP from 127.0.0.1, for the browser window's tests, in the event loop of
// the test. Every request gets the page, unless a responder given answers it otherwise (it
// sees the whole request and returns the reply).
class PageServer : public QObject {
public:
    using Responder = std::function<PageReply(const QByteArray& request, const QByteArray& page)>;

    explicit PageServer(QByteArray page, Responder respond = {})
        : page_(std::move(page)), respond_(std::move(respond)) {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>(); // this connection's
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                    *request += socket->readAll();
                    if (!request->contains("\r\n\r\n")) {
                        return; // the rest of the request is still on its way
                    }
                    const PageReply reply =
                        respond_ ? respond_(*request, page_) : PageReply{.body = page_};
                    request->clear();
                    QTimer::singleShot(reply.delayMs, socket, [socket, reply] {
                        socket->write(
                            "HTTP/1.1 200 OK\r\nContent-Type: " + reply.contentType +
                            "\r\nContent-Length: " + QByteArray::number(reply.body.size()) +
                            "\r\nConnection: close\r\n\r\n" + reply.body);
                        socket->disconnectFromHost();
                    });
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
    Responder respond_;
    QTcpServer server_;
};

} // namespace morvane::test
