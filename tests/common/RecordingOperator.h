#pragma once

// An operator that records what an operation says, for the tests that run operations without a window.
#include "core/Operator.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>

#ifdef QK_TEST_WIDGETS
#include "gui/MainFormLayout.h"

#include <gtest/gtest.h>
#endif

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
    QStringList questions;
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
        questions.append(text);
        return answer;
    }
    void setLabel(const QString &label, const QString &text, Tone tone) override
    {
        expectControl(label, "Label");
        labels[label] = text;
        if (tone != Tone::Keep)
            labelTones[label] = tone;
    }
    void setProgress(const QString &bar, int value) override
    {
        expectControl(bar, "ProgressBar");
        progress[bar].append(value);
    }
    void clearMemo(const QString &memo) override
    {
        expectControl(memo, "Memo");
        memos[memo].clear();
    }
    void appendLine(const QString &memo, const QString &line) override
    {
        expectControl(memo, "Memo");
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
    // Every control an operation names must be on the window, of the kind the call expects.
    static void expectControl([[maybe_unused]] const QString &name, [[maybe_unused]] const char *kind)
    {
#ifdef QK_TEST_WIDGETS
        using K = MainFormLayout::Kind;
        const K wanted = QLatin1String(kind) == QLatin1String("Label")         ? K::Label
                         : QLatin1String(kind) == QLatin1String("ProgressBar") ? K::ProgressBar
                                                                               : K::Memo;
        for (const auto &c : MainFormLayout::controls())
            if (name == QLatin1String(c.name) && c.kind == wanted)
                return;
        ADD_FAILURE() << "the window has no " << kind << " named " << name.toStdString();
#endif
    }
    QStringList texts() const
    {
        QStringList t;
        for (const Message &m : messages)
            t << m.text;
        return t;
    }
};
