#pragma once

#include <ibase.h>

#include <QString>

#include <memory>

// The client library, loaded at run time by name. Every entry point the system uses is resolved
// when the library is loaded; a library that lacks one counts as missing.
class FbClient {
public:
    // The library sought on this platform ("libfbclient.so.2" here).
    static QString defaultLibraryName();
    // The process-wide binding, loaded at the first call. Throws LibraryMissingError.
    static FbClient &instance();
    // Loads a binding from the given library name; for the start-up check and tests.
    static std::unique_ptr<FbClient> load(const QString &libraryName);

    ~FbClient();
    FbClient(const FbClient &) = delete;
    FbClient &operator=(const FbClient &) = delete;

    // Throws EngineError when status reports a failure.
    void check(const ISC_STATUS *status) const;
    bool failed(const ISC_STATUS *status) const { return status[0] == 1 && status[1] != 0; }

    decltype(&::isc_attach_database) attach_database = nullptr;
    decltype(&::isc_detach_database) detach_database = nullptr;
    decltype(&::isc_database_info) database_info = nullptr;
    decltype(&::isc_start_multiple) start_multiple = nullptr;
    decltype(&::isc_commit_transaction) commit_transaction = nullptr;
    decltype(&::isc_rollback_transaction) rollback_transaction = nullptr;
    decltype(&::isc_dsql_alloc_statement2) dsql_alloc_statement2 = nullptr;
    decltype(&::isc_dsql_prepare) dsql_prepare = nullptr;
    decltype(&::isc_dsql_describe) dsql_describe = nullptr;
    decltype(&::isc_dsql_describe_bind) dsql_describe_bind = nullptr;
    decltype(&::isc_dsql_execute) dsql_execute = nullptr;
    decltype(&::isc_dsql_execute2) dsql_execute2 = nullptr;
    decltype(&::isc_dsql_fetch) dsql_fetch = nullptr;
    decltype(&::isc_dsql_free_statement) dsql_free_statement = nullptr;
    decltype(&::isc_sqlcode) sqlcode = nullptr;
    ISC_LONG(*interprete)
    (ISC_SCHAR *, ISC_STATUS **) = nullptr; // deprecated in the header, still the entry point
    decltype(&::isc_vax_integer) vax_integer = nullptr;
    decltype(&::isc_service_attach) service_attach = nullptr;
    decltype(&::isc_service_detach) service_detach = nullptr;
    decltype(&::isc_service_start) service_start = nullptr;
    decltype(&::isc_service_query) service_query = nullptr;
    // Used only by the sample-database tool to create databases; may be absent.
    decltype(&::isc_dsql_execute_immediate) dsql_execute_immediate = nullptr;
    decltype(&::fb_shutdown) shutdown = nullptr;                 // may be absent
    decltype(&::fb_cancel_operation) cancel_operation = nullptr; // may be absent

    // Ends a process that SIGINT or SIGTERM is ending: the library shut down in this thread (what the
    // program left attached is detached, what the embedded engine still runs is aborted), then the
    // process leaves at once, without the library's own teardown at exit, which races its threads. For
    // a process that received such a signal only.
    [[noreturn]] static void endAfterSignal(int status);
    // Cancels whatever the library is running, in any thread, and detaches everything within timeoutMs
    // (fb_shutdown), so that the embedded engine lets go of its shared tables before a process leaves
    // in the middle of its work. Nothing to do in a process that never loaded the library. True when
    // the library had ended in time.
    static bool shutDownWithin(int timeoutMs);

private:
    FbClient() = default;
    void *m_handle = nullptr;
};
