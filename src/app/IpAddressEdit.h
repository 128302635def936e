#pragma once

#include <QString>
#include <QWidget>
#include <array>

class QLineEdit;

namespace qhs {

// A four-field IPv4 address input: four numbers of 0 to 255 between fixed dots. A blank
// field reads as 0, so an empty input reads as "0.0.0.0".
class IpAddressEdit : public QWidget {
    Q_OBJECT

  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    QString text() const;
    // Takes a dotted address; fields that are missing or not numbers of 0 to 255 stay blank.
    void setText(const QString& dotted);
    void clear();
    bool isBlank() const;

  signals:
    void textChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::array<QLineEdit*, 4> fields_{};
};

}  // namespace qhs
