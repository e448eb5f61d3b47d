#pragma once

#include "db/Query.h"
#include "db/Transaction.h"

// Runs f inside a savepoint of the transaction q works in. When f fails, only f's own statements are
// undone: what earlier operations left pending in the shared transaction stays for its next commit.
// Should the savepoint itself be lost with the connection, the transaction is rolled back whole
// rather than committed half done. Success releases the savepoint into the transaction.
template <typename F> void withSavepoint(Query &q, const QString &name, F &&f) {
    q.setSql(QStringLiteral("SAVEPOINT ") + name);
    q.execute();
    try {
        f();
    } catch (...) {
        Transaction *tr = q.transaction;
        try {
            if (tr && tr->active()) {
                q.setSql(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
                q.execute(Query::Duration::MayRunLong); // undoes what f did: a month's rows, maybe
                q.setSql(QStringLiteral("RELEASE SAVEPOINT ") + name + QStringLiteral(" ONLY"));
                q.execute();
                q.close();
            }
        } catch (...) {
            try {
                if (tr && tr->active())
                    tr->rollback();
            } catch (...) {
            }
        }
        throw; // the operation's own error is the one the operator sees
    }
    q.setSql(QStringLiteral("RELEASE SAVEPOINT ") + name + QStringLiteral(" ONLY"));
    q.execute();
    q.close();
}
