#pragma once

#include "db/FbClient.h"
#include "db/ServiceBlocks.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A session with the server's service manager: attach, start one action or send a query, read its
// output or poll until it has ended, detach. Kinds add what is particular to their action.
class Service {
public:
    enum class Protocol { TCP, SPX, NamedPipe, Local };
    static constexpr int kBufferSize = 32000;

    explicit Service(QString objectName);
    virtual ~Service();
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    const QString &objectName() const { return m_objectName; }
    QString serverName;
    Protocol protocol = Protocol::TCP;
    bool loginPrompt = false;
    const QStringList &params() const { return m_params; }
    void setParams(const QStringList &lines);

    bool active() const { return m_handle != 0; }
    void attach();
    // Forgets the handle even when the server reports an error; a detached object does nothing.
    void detach();

    // Generic start from the object's fields.
    virtual void serviceStart();
    int action() const { return m_action; }
    bool eof() const { return m_eof; }
    // The next line of the action's output; the empty text, and eof set, when it is exhausted.
    QString nextLine();
    bool isRunning();
    // The attachments on the server and the databases in use (any attached service may ask).
    Spb::ServerDbInfo fetchDatabaseInfo();
    // Polls the running flag until the action ends, sleeping between the queries.
    void waitWhileRunning(int sleepMs);

    // The address the attach uses for this server name and protocol.
    static QString address(const QString &serverName, Protocol protocol);

protected:
    // The start block of the object's action; empty when it has nothing to start.
    virtual QByteArray startBlock() const { return {}; }
    void startRequest(const QByteArray &spb);
    // Sends the query items and returns the reply buffer (kBufferSize bytes).
    const QByteArray &query(const QByteArray &items);

private:
    FbClient *m_client;
    QString m_objectName;
    QStringList m_params;
    QByteArray m_attachBlock;
    isc_svc_handle m_handle = 0;
    int m_action = 0;
    bool m_eof = false;
    QByteArray m_buffer;
};
