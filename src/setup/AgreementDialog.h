#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

namespace Ui {
class AgreementDialog;
}

namespace qhs {

// Shows the end-user agreement. The accept button stays disabled until the agreement's
// last row has been in view, and stays enabled from then on. Only that button gives
// agreed(); declining, Enter, Escape and the close box all leave it false.
class AgreementDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AgreementDialog(QWidget* parent = nullptr);
    ~AgreementDialog() override;

    bool agreed() const { return agreed_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void enableAcceptOnceLastRowShown();

    std::unique_ptr<Ui::AgreementDialog> ui_;
    QTimer scrollWatch_;
    bool agreed_ = false;
};

}  // namespace qhs
