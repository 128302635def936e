#pragma once

#include <QString>

#include "app/UserMessage.h"

class QDialog;
class QWidget;

namespace qhs {

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// Every message box, file picker and nested modal dialog of the program goes through this
// one service, so tests can script the user's answers instead of a person clicking.
class DialogService {
  public:
    virtual ~DialogService() = default;

    virtual MessageAnswer showMessage(QWidget* owner, const UserMessage& message,
                                      MessageButtons buttons = MessageButtons::Ok) = 0;
    // Each picker returns the chosen path, or an empty text when the user cancels. In the
    // file pickers a name typed without an extension gets the first filter's.
    virtual QString openFileName(QWidget* owner, const QString& caption, const QString& startPath,
                                 const QString& filter) = 0;
    virtual QString saveFileName(QWidget* owner, const QString& caption, const QString& startPath,
                                 const QString& filter) = 0;
    virtual QString existingDirectory(QWidget* owner, const QString& caption,
                                      const QString& startPath) = 0;
    // Runs a dialog modally and returns its result code.
    virtual int runModal(QDialog& dialog) = 0;
    // Opens a web or mail address in the user's browser or mail program.
    virtual void openAddress(const QString& address) = 0;
};

// The real service: Qt's message boxes and file dialogs.
class QtDialogService final : public DialogService {
  public:
    MessageAnswer showMessage(QWidget* owner, const UserMessage& message,
                              MessageButtons buttons) override;
    QString openFileName(QWidget* owner, const QString& caption, const QString& startPath,
                         const QString& filter) override;
    QString saveFileName(QWidget* owner, const QString& caption, const QString& startPath,
                         const QString& filter) override;
    QString existingDirectory(QWidget* owner, const QString& caption,
                              const QString& startPath) override;
    int runModal(QDialog& dialog) override;
    void openAddress(const QString& address) override;
};

DialogService& dialogService();
// Shows a main window and serves events until it has closed, then returns its result. Unlike
// a modal loop it leaves the windows the main window opens beside itself (each Filter setup)
// free to take input.
int runMainWindow(QDialog& window);
// Replaces the service (tests); nullptr restores Qt's. The caller keeps ownership.
void setDialogService(DialogService* service);

}  // namespace qhs
