#pragma once

// An operator that records what an operation says, for the tests that run operations without a window.
#include "core/Operator.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>

struct RecordingOperator : Operator {
    struct Message {
        Box kind;
        QString text;
    };
    QList<Message> messages;
    QHash<QString, QString> labels;
    QHash<QString, Tone> labelTones;
    QHash<QString, QList<int>> progress;
    QHash<QString, QStringList> memos;
    QStringList events; // "busy", "idle", "message", "end", in order
    bool busy = false;
    int endCalls = 0;
    bool answer = true;
    std::function<void(const QString &memo, const QString &line)> onLine;
    std::function<void(const Message &)> onMessage;

    void message(Box kind, const QString &text) override
    {
        messages.append({kind, text});
        events << QStringLiteral("message");
        if (onMessage)
            onMessage(messages.last());
    }
    bool confirm(const QString &text) override
    {
        messages.append({Box::Information, text});
        return answer;
    }
    void setLabel(const QString &label, const QString &text, Tone tone) override
    {
        labels[label] = text;
        if (tone != Tone::Keep)
            labelTones[label] = tone;
    }
    void setProgress(const QString &bar, int value) override { progress[bar].append(value); }
    void clearMemo(const QString &memo) override { memos[memo].clear(); }
    void appendLine(const QString &memo, const QString &line) override
    {
        memos[memo].append(line);
        if (onLine)
            onLine(memo, line);
    }
    void beginBusy() override
    {
        busy = true;
        events << QStringLiteral("busy");
    }
    void endBusy() override
    {
        busy = false;
        events << QStringLiteral("idle");
    }
    void processEvents() override {}
    void endProgram() override
    {
        ++endCalls;
        events << QStringLiteral("end");
    }
    QStringList texts() const
    {
        QStringList t;
        for (const Message &m : messages)
            t << m.text;
        return t;
    }
};
