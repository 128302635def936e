#pragma once

#include <QDialog>
#include <memory>

#include "info/HelpTopics.h"

namespace Ui {
class HelpDialog;
}

namespace qhs {

// Answers nine fixed questions, one at a time: pressing a topic button puts its answer in
// the panel. Opens on the first topic every time.
class HelpDialog : public QDialog {
    Q_OBJECT

  public:
    explicit HelpDialog(QWidget* parent = nullptr);
    ~HelpDialog() override;

  private:
    void showAnswer(const HelpTopic& topic);

    std::unique_ptr<Ui::HelpDialog> ui_;
};

}  // namespace qhs
