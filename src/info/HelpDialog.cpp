#include "info/HelpDialog.h"

#include "app/ProductArt.h"
#include "app/TextCodec.h"
#include "ui_HelpDialog.h"

namespace qhs {

namespace {

QPushButton* topicButton(QDialog& dialog, const HelpTopic& topic) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->property("controlId").toInt() == topic.controlId) {
            return button;
        }
    }
    return nullptr;
}

}  // namespace

HelpDialog::HelpDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::HelpDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(applicationIcon());
    for (const HelpTopic& topic : helpTopics()) {
        if (QPushButton* button = topicButton(*this, topic)) {
            connect(button, &QPushButton::clicked, this, [this, &topic] { showAnswer(topic); });
        }
    }
    const HelpTopic& first = helpTopics().front();
    if (QPushButton* button = topicButton(*this, first)) {
        button->setChecked(true);
    }
    showAnswer(first);
}

HelpDialog::~HelpDialog() = default;

void HelpDialog::showAnswer(const HelpTopic& topic) {
    ui_->answerPanel->setText(fromWindowsLines(helpAnswer(topic)));
}

}  // namespace qhs
