#pragma once

#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "app/DialogService.h"

namespace qhs {

// Stands in for the user in widget tests: records every message box and answers it, the
// pickers and nested dialogs from queues the test fills. Installed for its lifetime.
class ScriptedDialogService : public DialogService {
  public:
    ScriptedDialogService() { setDialogService(this); }
    ~ScriptedDialogService() override { setDialogService(nullptr); }

    struct Shown {
        UserMessage message;
        MessageButtons buttons;
    };
    std::vector<Shown> shown;
    std::deque<MessageAnswer> answers;  // empty: Ok (or Yes for questions)
    std::deque<QString> pickedPaths;    // empty: the user cancels
    // Each nested dialog is handed to the next handler; none left: the user presses Escape.
    std::deque<std::function<int(QDialog&)>> dialogHandlers;
    std::vector<QString> openedAddresses;
    // Runs while each message box is open, before it is answered.
    std::function<void(const UserMessage&)> whileShown;

    std::vector<std::string> shownTexts() const {
        std::vector<std::string> texts;
        for (const Shown& box : shown) {
            texts.push_back(box.message.text);
        }
        return texts;
    }

    MessageAnswer showMessage(QWidget*, const UserMessage& message,
                              MessageButtons buttons) override {
        shown.push_back({message, buttons});
        if (whileShown) {
            whileShown(message);
        }
        if (!answers.empty()) {
            const MessageAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons == MessageButtons::Ok || buttons == MessageButtons::OkCancel
                   ? MessageAnswer::Ok
                   : MessageAnswer::Yes;
    }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return nextPath();
    }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return nextPath();
    }
    QString existingDirectory(QWidget*, const QString&, const QString&) override {
        return nextPath();
    }
    int runModal(QDialog& dialog) override {
        if (dialogHandlers.empty()) {
            return QDialog::Rejected;
        }
        auto handler = std::move(dialogHandlers.front());
        dialogHandlers.pop_front();
        return handler(dialog);
    }
    void openAddress(const QString& address) override { openedAddresses.push_back(address); }

  private:
    QString nextPath() {
        if (pickedPaths.empty()) {
            return {};
        }
        QString path = pickedPaths.front();
        pickedPaths.pop_front();
        return path;
    }
};

// Finds the child widget that carries a control id.
template <typename Widget>
Widget* controlById(QObject& parent, int id) {
    for (Widget* child : parent.findChildren<Widget*>()) {
        if (child->property("controlId").toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace qhs
