#pragma once

#include <QDialog>
#include <memory>

#include "app/PublishedSettings.h"

namespace Ui {
class SavingOptionsDialog;
}

namespace qhs {

// Asks, before the packet list is saved, whether each packet's data goes into the file and
// in which rendering. "<-Continue->" stores the choice in the four save fields; closing the
// dialog any other way stores nothing. The save goes on either way.
class SavingOptionsDialog : public QDialog {
    Q_OBJECT

  public:
    explicit SavingOptionsDialog(PublishedSettings& settings, QWidget* parent = nullptr);
    ~SavingOptionsDialog() override;

  private:
    void enableRenderings(bool enabled);
    void storeChoice();

    std::unique_ptr<Ui::SavingOptionsDialog> ui_;
    PublishedSettings& settings_;
};

}  // namespace qhs
