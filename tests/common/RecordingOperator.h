#pragma once

// An operator that records what an operation says, for the tests that run operations without a window.
#include "core/Operator.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

struct RecordingOperator : Operator {
    struct Message {
        Box kind;
        QString text;
    };
    QList<Message> messages;
    std::optional<bool> lockFlag; // the lock flag as last shown
    QString connectionCount;      // null until shown
    std::map<Activity, QString> stages;
    std::map<Activity, QList<int>> activity;
    std::map<Log, QStringList> logs;
    std::map<YearEnd, QString> results;
    QStringList events; // "busy", "idle", "message", "end", in order
    bool busy = false;
    int endCalls = 0;
    QStringList questions;
    bool answer = true;
    std::function<void(Log log, const QString &line)> onLine;
    std::function<void(const Message &)> onMessage;

    void message(Box kind, const QString &text) override {
        messages.append({kind, text});
        events << QStringLiteral("message");
        if (onMessage)
            onMessage(messages.last());
    }
    bool confirm(const QString &text) override {
        questions.append(text);
        return answer;
    }
    void showLockFlag(bool locked) override { lockFlag = locked; }
    void showConnectionCount(const QString &count) override { connectionCount = count; }
    void setStage(Activity a, const QString &text) override { stages[a] = text; }
    void setActivity(Activity a, int value) override { activity[a].append(value); }
    void clearLog(Log l) override { logs[l].clear(); }
    void appendLine(Log l, const QString &line) override {
        logs[l].append(line);
        if (onLine)
            onLine(l, line);
    }
    void showResult(YearEnd item, const QString &text) override { results[item] = text; }
    void beginBusy() override {
        busy = true;
        events << QStringLiteral("busy");
    }
    void endBusy() override {
        busy = false;
        events << QStringLiteral("idle");
    }
    void processEvents() override {}
    void endProgram() override {
        ++endCalls;
        events << QStringLiteral("end");
    }

    QStringList log(Log l) const { return logs.count(l) ? logs.at(l) : QStringList(); }
    QString result(YearEnd item) const { return results.count(item) ? results.at(item) : QString(); }
    bool shown(YearEnd item) const { return results.count(item) > 0; }
    // Nothing but boxes and questions reached the operator: no flag, counter, stage or result.
    bool nothingShown() const {
        return !lockFlag && connectionCount.isNull() && stages.empty() && results.empty();
    }
    QStringList texts() const {
        QStringList t;
        for (const Message &m : messages)
            t << m.text;
        return t;
    }
};
