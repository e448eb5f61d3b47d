#include "db/FbClient.h"

#include "db/Errors.h"
#include "platform/AnsiCodec.h"
#include "platform/ClientText.h"

#include <QStringList>

#include <firebird/Interface.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <unistd.h>

QString FbClient::defaultLibraryName() {
    return QStringLiteral("libfbclient.so.2");
}

namespace {

std::atomic<FbClient *> g_instance{nullptr};

// The library puts its own SIGINT and SIGTERM handler in place at its first call, in front of the
// program's: it then shuts the library down in a thread of its own, racing the program's thread that
// still detaches and frees its handles (a crash inside the library, about one signalled run in 150), and
// at the program's exit it raced the unloading of the library. Here that first call is made at once (a
// service attachment with no name, refused before anything is opened or connected) and a program that
// had handlers of its own gets them back in front; a program that had none (the restore worker, whose
// engine aborts on SIGINT that way) keeps the library's.
void putProgramsSignalHandlersBack(void *handle) {
    const int handled[] = {SIGINT, SIGTERM};
    struct sigaction before[2]{};
    for (int i = 0; i < 2; ++i)
        ::sigaction(handled[i], nullptr, &before[i]);
    using MasterFn = Firebird::IMaster *(*)();
    auto master = reinterpret_cast<MasterFn>(dlsym(handle, "fb_get_master_interface"));
    if (!master)
        return;
    Firebird::IMaster *m = master();
    Firebird::IStatus *st = m->getStatus();
    Firebird::CheckStatusWrapper status(st);
    Firebird::IProvider *dispatcher = m->getDispatcher();
    if (Firebird::IService *s = dispatcher->attachServiceManager(&status, nullptr, 0, nullptr))
        s->release(); // never: a nameless attachment is refused
    dispatcher->release();
    st->dispose();
    for (int i = 0; i < 2; ++i) {
        const bool programs = (before[i].sa_flags & SA_SIGINFO)
                                  ? before[i].sa_sigaction != nullptr
                                  : before[i].sa_handler != SIG_DFL && before[i].sa_handler != SIG_IGN;
        if (programs)
            ::sigaction(handled[i], &before[i], nullptr);
    }
}

} // namespace

FbClient &FbClient::instance() {
    // Never unloaded: the library stays until the program ends.
    static FbClient *client = [] {
        FbClient *c = load(defaultLibraryName()).release();
        g_instance = c;
        return c;
    }();
    return *client;
}

std::unique_ptr<FbClient> FbClient::load(const QString &libraryName) {
    const QString missing = QString::fromLatin1(Msg::LibraryMissing).arg(libraryName);
    // Before the library converts its first file name, whatever the environment's locale.
    ClientText::useUtf8CharacterSet();
    void *handle = dlopen(libraryName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw LibraryMissingError(missing);

    std::unique_ptr<FbClient> c(new FbClient);
    c->m_handle = handle;
    bool complete = true;
    auto bind = [&](auto &fn, const char *name, bool required = true) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle, name));
        if (!fn && required)
            complete = false;
    };
    bind(c->attach_database, "isc_attach_database");
    bind(c->detach_database, "isc_detach_database");
    bind(c->database_info, "isc_database_info");
    bind(c->start_multiple, "isc_start_multiple");
    bind(c->commit_transaction, "isc_commit_transaction");
    bind(c->rollback_transaction, "isc_rollback_transaction");
    bind(c->dsql_alloc_statement2, "isc_dsql_alloc_statement2");
    bind(c->dsql_prepare, "isc_dsql_prepare");
    bind(c->dsql_describe, "isc_dsql_describe");
    bind(c->dsql_describe_bind, "isc_dsql_describe_bind");
    bind(c->dsql_execute, "isc_dsql_execute");
    bind(c->dsql_execute2, "isc_dsql_execute2");
    bind(c->dsql_fetch, "isc_dsql_fetch");
    bind(c->dsql_free_statement, "isc_dsql_free_statement");
    bind(c->sqlcode, "isc_sqlcode");
    bind(c->interprete, "isc_interprete");
    bind(c->vax_integer, "isc_vax_integer");
    bind(c->service_attach, "isc_service_attach");
    bind(c->service_detach, "isc_service_detach");
    bind(c->service_start, "isc_service_start");
    bind(c->service_query, "isc_service_query");
    bind(c->dsql_execute_immediate, "isc_dsql_execute_immediate", false);
    bind(c->shutdown, "fb_shutdown", false);
    bind(c->cancel_operation, "fb_cancel_operation", false);
    if (!complete)
        throw LibraryMissingError(missing); // the destructor closes the handle
    putProgramsSignalHandlersBack(handle);
    return c;
}

FbClient::~FbClient() {
    if (m_handle)
        dlclose(m_handle);
}

void FbClient::check(const ISC_STATUS *status) const {
    if (!failed(status))
        return;
    const long sql = sqlcode(status);
    const long engine = status[1];
    QStringList parts;
    // isc_interprete writes at most 1024 bytes per message; give it room to spare.
    char buffer[2048];
    ISC_STATUS *cursor = const_cast<ISC_STATUS *>(status);
    while (interprete(buffer, &cursor) > 0)
        parts << AnsiCodec::decode(buffer, qstrnlen(buffer, sizeof buffer));
    QString message = parts.join(QStringLiteral("\r\n"));
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    throw EngineError(message, sql, engine);
}

bool FbClient::shutDownWithin(int timeoutMs) {
    FbClient *c = g_instance.load();
    return !c || !c->shutdown || c->shutdown(unsigned(timeoutMs), fb_shutrsn_app_stopped) == 0;
}

void FbClient::endAfterSignal(int status) {
    // A process that never loaded the library (health --all) has nothing of it to wait for.
    if (FbClient *c = g_instance.load(); c && c->shutdown)
        c->shutdown(10000, fb_shutrsn_signal);
    std::fflush(nullptr);
    ::_exit(status);
}
