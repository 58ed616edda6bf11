#pragma once
// Scripted stand-ins for the dialogs, message boxes and shell: they answer from a queue
// (an empty queue answers "cancel") and record what they were asked.
#include "dialogs/Seams.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>

namespace tabulon::testing {

class FakeDialogs : public dialogs::DialogBackend {
public:
    FakeDialogs() { dialogs::setDialogBackend(this); }
    ~FakeDialogs() override { dialogs::setDialogBackend(nullptr); }

    std::deque<std::optional<QString>> files, folders;  // files answers both open and save
    std::deque<std::optional<QColor>> colors;
    std::deque<std::optional<QFont>> fonts;
    bool printerAnswer = false;

    QList<dialogs::FileRequest> openRequests, saveRequests;
    QStringList folderCaptions, folderDirectories;
    QList<dialogs::ColorRequest> colorRequests;
    QList<dialogs::FontRequest> fontRequests;
    int printerCalls = 0;

    std::optional<QString> openFile(const dialogs::FileRequest& r) override { return openRequests << r, take(files); }
    std::optional<QString> saveFile(const dialogs::FileRequest& r) override { return saveRequests << r, take(files); }
    std::optional<QString> folder(QWidget*, const QString& c, const QString& d) override
    {
        folderCaptions << c;
        folderDirectories << d;
        return take(folders);
    }
    std::optional<QColor> color(const dialogs::ColorRequest& r) override { return colorRequests << r, take(colors); }
    std::optional<QFont> font(const dialogs::FontRequest& r) override { return fontRequests << r, take(fonts); }
    bool printer(QWidget*) override { return ++printerCalls, printerAnswer; }
    bool printerProperties(QWidget*) override { return ++printerCalls, printerAnswer; }

private:
    template <typename T>
    static std::optional<T> take(std::deque<std::optional<T>>& queue)
    {
        std::optional<T> answer;
        if (!queue.empty()) {
            answer.swap(queue.front());
            queue.pop_front();
        }
        return answer;
    }
};

class FakeMessages : public dialogs::MessageBoxes {
public:
    FakeMessages() { dialogs::setMessageBoxes(this); }
    ~FakeMessages() override { dialogs::setMessageBoxes(nullptr); }

    struct Shown {
        QString text;
        dialogs::MessageIcon icon;
        bool operator==(const Shown&) const = default;
    };
    QList<Shown> shown;
    std::function<void()> whileShown;  // runs as each message shows, to look at the window then
    std::deque<bool> answers;          // to questions; an empty queue answers No
    QStringList questions;

    void show(QWidget*, const QString& text, dialogs::MessageIcon icon) override
    {
        shown << Shown{text, icon};
        if (whileShown)
            whileShown();
    }
    bool ask(QWidget*, const QString& question) override
    {
        questions << question;
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return yes;
    }
};

class FakeShell : public dialogs::Shell {
public:
    FakeShell() { dialogs::setShell(this); }
    ~FakeShell() override { dialogs::setShell(nullptr); }

    struct Call {
        QPointer<QWidget> owner;
        QString ownerName;  // kept, as the owner may be gone when the test looks
        QString target;
        int showCommand;
    };
    QList<Call> calls;

    void open(QWidget* owner, const QString& target, int showCommand) override
    {
        calls << Call{owner, owner ? owner->objectName() : QString(), target, showCommand};
    }
};

}  // namespace tabulon::testing
