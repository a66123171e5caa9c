// Dialogs that answer from a script and record what the window asked, so the
// window tests run without a person.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include <QAction>
#include <QMenu>
#include <QPoint>
#include <QString>

#include "app/dialogs.h"

namespace velmora::test {

class ScriptedDialogs : public app::Dialogs {
public:
    struct Shown {
        QString caption;
        QString text;
    };

    // Answers, taken from the front; an empty queue cancels / dismisses.
    std::deque<QString> openAnswers;
    std::deque<QString> folderAnswers;
    std::deque<QString> popupChoices;  // object name of the item to choose
    std::deque<bool> askAnswers;       // empty: Yes

    // What the window asked for.
    int openCalls = 0;
    std::vector<QString> openFilters;
    std::vector<QString> folderTitles;
    std::vector<QString> folderInitials;
    std::vector<Shown> messages;
    std::vector<QString> questions;
    std::vector<QPoint> popupPositions;
    std::optional<QString> clipboard;
    // Runs while a message box would be open (to look at the window then).
    std::function<void(const Shown&)> onMessage;

    std::optional<QString> openFile(QWidget*, const QString& filter) override {
        ++openCalls;
        openFilters.push_back(filter);
        return take(openAnswers);
    }
    std::optional<QString> browseFolder(QWidget*, const QString& title, const QString& initial) override {
        folderTitles.push_back(title);
        folderInitials.push_back(initial);
        return take(folderAnswers);
    }
    void message(QWidget*, const QString& caption, const QString& text) override {
        messages.push_back({caption, text});
        if (onMessage) onMessage(messages.back());
    }
    bool ask(QWidget*, const QString& text) override {
        questions.push_back(text);
        if (askAnswers.empty()) return true;
        bool answer = askAnswers.front();
        askAnswers.pop_front();
        return answer;
    }
    // Like QMenu::exec: the chosen item is triggered before the call returns.
    QAction* popup(QMenu& menu, const QPoint& globalPos) override {
        popupPositions.push_back(globalPos);
        std::optional<QString> name = take(popupChoices);
        if (!name) return nullptr;
        for (QAction* action : menu.actions())
            if (action->objectName() == *name) {
                action->trigger();
                return action;
            }
        return nullptr;
    }
    void setClipboardText(const QString& text) override { clipboard = text; }
    void beep() override { ++beeps; }
    int beeps = 0;

private:
    static std::optional<QString> take(std::deque<QString>& queue) {
        if (queue.empty()) return std::nullopt;
        QString value = queue.front();
        queue.pop_front();
        return value;
    }
};

}  // namespace velmora::test
