#include "db/Service.h"

#include "db/Errors.h"
#include "platform/ClientText.h"
#include "platform/Supervisor.h"

#include <QThread>

Service::Service(QString objectName)
    : m_client(&FbClient::instance()), m_objectName(std::move(objectName)), m_buffer(kBufferSize, '\0') {}

Service::~Service() {
    try {
        detach();
    } catch (...) {
    }
}

void Service::setParams(const QStringList &lines) {
    if (lines == m_params)
        return;
    m_params = lines;
    m_attachBlock.clear(); // built again at the next attach
}

QString Service::address(const QString &serverName, Protocol protocol) {
    switch (protocol) {
    case Protocol::TCP:
        return serverName + QStringLiteral(":service_mgr");
    case Protocol::SPX:
        return serverName + QStringLiteral("@service_mgr");
    case Protocol::NamedPipe:
        return QStringLiteral("\\\\") + serverName + QStringLiteral("\\service_mgr");
    case Protocol::Local:
        break;
    }
    return QStringLiteral("service_mgr");
}

void Service::attach() {
    if (active())
        return;
    if (serverName.isEmpty() && protocol != Protocol::Local)
        throw LayerError(Msg::ServerNameMissing);
    if (m_attachBlock.isEmpty())
        m_attachBlock = Spb::attachBlock(m_params);
    const QByteArray addr = ClientText::encode(address(serverName, protocol));
    ISC_STATUS_ARRAY status;
    isc_svc_handle h = 0;
    m_client->service_attach(status, static_cast<unsigned short>(addr.size()), addr.constData(), &h,
                             static_cast<unsigned short>(m_attachBlock.size()), m_attachBlock.constData());
    try {
        m_client->check(status);
    } catch (const EngineError &e) {
        throw explainLogin(e, m_params);
    }
    m_handle = h;
}

void Service::detach() {
    if (!active())
        return;
    ISC_STATUS_ARRAY status;
    m_client->service_detach(status, &m_handle);
    m_handle = 0;
    m_client->check(status);
}

void Service::serviceStart() {
    startRequest(startBlock());
}

void Service::startRequest(const QByteArray &spb) {
    if (!active())
        throw LayerError(Msg::ServiceNotAttached);
    if (spb.isEmpty())
        throw LayerError(Msg::StartParamsMissing);
    m_action = static_cast<unsigned char>(spb[0]);
    m_eof = false;
    ISC_STATUS_ARRAY status;
    m_client->service_start(status, &m_handle, nullptr, static_cast<unsigned short>(spb.size()),
                            spb.constData());
    m_client->check(status);
}

const QByteArray &Service::query(const QByteArray &items) {
    if (!active())
        throw LayerError(Msg::ServiceNotAttached);
    m_buffer.fill('\0');
    ISC_STATUS_ARRAY status;
    // The server answers a line query only when the action prints a line or ends, which may be minutes
    // (a validation prints nothing; a backup is silent over a big table), and its own timeout counts
    // whole seconds: the query waits on a worker thread while this one keeps the window's events
    // turning. The service handle is this object's alone and only that thread uses it meanwhile.
    Supervisor::Idle::whileBlocked([&] {
        m_client->service_query(status, &m_handle, nullptr, 0, nullptr,
                                static_cast<unsigned short>(items.size()), items.constData(),
                                static_cast<unsigned short>(m_buffer.size()), m_buffer.data());
    });
    m_client->check(status);
    return m_buffer;
}

QString Service::nextLine() {
    if (m_eof)
        return QString();
    if (m_action == 0)
        throw LayerError(Msg::QueryParamsMissing);
    bool notReady = true;
    std::optional<QString> line;
    while (notReady) {
        line = Spb::parseLine(query(QByteArray(1, char(Spb::InfoLine))), &notReady);
        if (notReady) { // asked again a moment later: the action has printed nothing yet
            QThread::msleep(10);
            Supervisor::Idle::ifDue();
        }
    }
    if (!line) {
        m_eof = true;
        return QString();
    }
    return *line;
}

bool Service::isRunning() {
    return Spb::parseRunning(query(QByteArray(1, char(Spb::InfoRunning))));
}

void Service::waitWhileRunning(int sleepMs) {
    while (isRunning()) {
        QThread::msleep(static_cast<unsigned long>(sleepMs));
        Supervisor::Idle::ifDue();
    }
}
