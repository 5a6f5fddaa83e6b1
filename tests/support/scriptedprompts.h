// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "window/prompts.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

// Answers the window's dialogs in tests: records every message box and hands
// out folder choices from a queue (an empty answer is a cancel). The window's
// program, Documents and home folders are one scratch folder of its own (or
// `machine`), and the folders it would show in the file manager are noted.
class ScriptedPrompts : public tarvik::Prompts
{
public:
    struct Message {
        QString text;
        QString title;
    };

    void message(QWidget *, const QString &text, const QString &title) override
    {
        messages.append({text, title});
        if (onMessage)
            onMessage();
    }

    QString chooseFolder(QWidget *, const QString &title) override
    {
        folderTitles.append(title);
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }

    int ask(QWidget *, const QString &text, const QString &title, const QStringList &buttons) override
    {
        questions.append({text, title});
        questionButtons.append(buttons);
        if (!buttonTexts.isEmpty())
            return int(buttons.indexOf(buttonTexts.takeFirst()));
        return answers.isEmpty() ? otherwiseAnswer : answers.takeFirst();
    }

    tarvik::MachineFolders folders() const override
    {
        if (machine)
            return *machine;
        if (!m_scratch)
            m_scratch = std::make_shared<QTemporaryDir>();
        return {m_scratch->path(), QString(), m_scratch->path()};
    }

    void showFolder(const QString &folder) override { shownFolders.append(folder); }

    QList<Message> messages;
    QList<Message> questions;
    QList<QStringList> questionButtons;
    QList<int> answers;       // the button clicked for each question in turn
    int otherwiseAnswer = -1; // once none is left; -1: the box closed without a choice
    QStringList buttonTexts;  // or the button clicked, by its text (taken first)
    QStringList folderAnswers;
    QStringList folderTitles;
    std::function<void()> onMessage; // runs while the "box" is up
    std::optional<tarvik::MachineFolders> machine;
    QStringList shownFolders;

private:
    mutable std::shared_ptr<QTemporaryDir> m_scratch;
};
