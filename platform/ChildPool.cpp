#include "platform/ChildPool.h"

#include "platform/Signals.h"
#include "platform/Subprocess.h"

#include <QElapsedTimer>

#include <list>
#include <memory>

namespace {

struct Running {
    qsizetype job;
    ChildPool::Finished end;
    QElapsedTimer clock;
    std::unique_ptr<Supervisor> child;
};

} // namespace

void ChildPool::run(qsizetype count, const Next &next) {
    const QString self = Subprocess::selfExecutable();
    const int concurrent = std::max(1, m_options.concurrent);
    std::list<Running> running;
    // Starts the job's next child in a slot; false when the job is done (the failed start handed on).
    auto start = [&](qsizetype job, const Finished *previous) {
        for (std::optional<QStringList> args = next(job, previous); args && !m_stoppedBy;) {
            Running &x = running.emplace_back(Running{job, {}, {}, nullptr});
            x.clock.start();
            Subprocess::Options o{.program = self,
                                  .arguments = *args,
                                  .output = Subprocess::Output::Pipe,
                                  .newSession = true,
                                  .pipeError = m_options.pipeError};
            Supervisor::Handlers h{
                .data = [&x](const char *data, qint64 size) { x.end.out.append(data, size); }};
            if (m_options.pipeError)
                h.error = [&x](const QByteArray &line) { x.end.err += line + '\n'; };
            x.child = std::make_unique<Supervisor>(o, m_options.rule,
                                                   Supervisor::Limits{0, m_options.limitMs}, std::move(h));
            if (x.child->started())
                return true;
            const Finished failed = x.end; // not started: its end is known at once
            running.pop_back();
            args = next(job, &failed);
        }
        return false;
    };
    while ((m_begun < count && !m_stoppedBy) || !running.empty()) {
        while (!m_stoppedBy && m_begun < count && qsizetype(running.size()) < concurrent)
            start(m_begun++, nullptr);
        QList<Supervisor *> children;
        for (Running &x : running)
            children << x.child.get();
        if (!children.isEmpty())
            Supervisor::turn(children);
        if (!m_stoppedBy)
            m_stoppedBy = Signals::received();
        for (auto it = running.begin(); it != running.end();) {
            if (!it->child->ended()) {
                ++it;
                continue;
            }
            Finished end = std::move(it->end);
            end.started = true;
            end.status = it->child->status();
            end.end = it->child->end();
            end.ms = it->clock.elapsed();
            const qsizetype job = it->job;
            it = running.erase(it);
            // The job's next child takes the slot the last one left (it goes to the end of the turn).
            start(job, &end);
        }
    }
}
