#include "app/IpAddressEdit.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace qhs {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0) {
            row->addWidget(new QLabel(QStringLiteral("."), this));
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("part%1").arg(i + 1));
        field->setValidator(new QIntValidator(0, 255, field));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 8);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            // A third digit completes a number: move on to the next field.
            if (text.size() == 3 && i + 1 < fields_.size()) {
                fields_[i + 1]->setFocus();
                fields_[i + 1]->selectAll();
            }
        });
        connect(field, &QLineEdit::textChanged, this, &IpAddressEdit::textChanged);
        row->addWidget(field);
        fields_[i] = field;
    }
    row->addStretch();
}

QString IpAddressEdit::text() const {
    QStringList parts;
    for (const QLineEdit* field : fields_) {
        parts << QString::number(field->text().toInt());
    }
    return parts.join(QLatin1Char('.'));
}

void IpAddressEdit::setText(const QString& dotted) {
    const QStringList parts = dotted.trimmed().split(QLatin1Char('.'));
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        QString part;
        if (static_cast<qsizetype>(i) < parts.size()) {
            bool isNumber = false;
            const int value = parts[static_cast<qsizetype>(i)].toInt(&isNumber);
            if (isNumber && value >= 0 && value <= 255) {
                part = QString::number(value);
            }
        }
        fields_[i]->setText(part);
    }
}

void IpAddressEdit::clear() {
    for (QLineEdit* field : fields_) {
        field->clear();
    }
}

bool IpAddressEdit::isBlank() const {
    for (const QLineEdit* field : fields_) {
        if (!field->text().isEmpty()) {
            return false;
        }
    }
    return true;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        for (std::size_t i = 0; i + 1 < fields_.size(); ++i) {
            // A typed dot moves on to the next field, as in the dotted form.
            if (watched == fields_[i] && key->text() == QStringLiteral(".")) {
                fields_[i + 1]->setFocus();
                fields_[i + 1]->selectAll();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qhs
