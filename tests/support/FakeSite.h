#pragma once

#include "tests/support/FakeHttpServer.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The maker's web site on 127.0.0.1: the update notice at /ac/updates.txt and the download at /ac/Kelvo.zip.
// Everything else is 404.
class FakeSite : public QObject
{
    Q_OBJECT

public:
    explicit FakeSite(QObject* parent = nullptr);

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.port(); }
    QString baseUrl() const { return m_server.baseUrl(); } // "http://127.0.0.1:<port>"
    QString noticeUrl() const { return baseUrl() + QStringLiteral("/ac/updates.txt"); }
    QString downloadUrl() const { return baseUrl() + QStringLiteral("/ac/Kelvo.zip"); }

    FakeHttpServer& server() { return m_server; }
    const QList<FakeHttpServer::Request>& requests() const { return m_server.requests(); }
    void clearRequests() { m_server.clearRequests(); }

    // How /ac/updates.txt answers: this body (empty unless set) with this status (200 unless set), as text/plain.
    void setNotice(const QByteArray& body) { m_notice = body; }
    QByteArray notice() const { return m_notice; }
    void setStatus(int status) { m_status = status; }
    // Holds the notice back this long; sends it a byte at a time, this far apart; drops the connection instead of
    // answering; or sends only this many bytes of the answer before dropping it (< 0: the whole answer).
    void setDelayMs(int delayMs) { m_delayMs = delayMs; }
    void setTrickleMs(int trickleMs) { m_trickleMs = trickleMs; }
    void setDropConnection(bool drop) { m_dropConnection = drop; }
    void setDropAfterBytes(int bytes) { m_dropAfterBytes = bytes; }

    // The bytes /ac/Kelvo.zip serves.
    static QByteArray downloadBytes();

private:
    FakeHttpServer::Response handle(const FakeHttpServer::Request& request) const;

    FakeHttpServer m_server;
    QByteArray m_notice;
    int m_status = 200;
    int m_delayMs = 0;
    int m_trickleMs = 0;
    bool m_dropConnection = false;
    int m_dropAfterBytes = -1;
};
