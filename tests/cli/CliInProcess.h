#pragma once

#include "cli/Command.h"
#include "common/CliRun.h"

#include <cstdio>
#include <cstdlib>

// A command run inside the test's own process, its output caught: for what needs no process of its
// own (no summary line, no signals).
namespace TestCli {

inline CliRun inProcess(const QStringList &args, const QString &settings = QString()) {
    char *outText = nullptr, *errText = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE *out = open_memstream(&outText, &outSize);
    std::FILE *err = open_memstream(&errText, &errSize);
    Cli::Produced produced;
    const Cli::Context context{QString(), out, err, produced};
    QStringList all{QStringLiteral("qkadmin-cli")};
    if (!settings.isEmpty())
        all << QStringLiteral("--settings") << settings;
    QString command;
    const int rc = Cli::run(all + args, context, command);
    std::fclose(out);
    std::fclose(err);
    CliRun r{rc, QString::fromUtf8(outText, qsizetype(outSize)),
             QString::fromUtf8(errText, qsizetype(errSize))};
    std::free(outText);
    std::free(errText);
    return r;
}

} // namespace TestCli
