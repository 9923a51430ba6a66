// The "Run conditions" dialog: the tolerance band, the soak and the alarms of the runs to come.
#pragma once

#include "util/profilefile.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace chamber {

// One row a condition: a box that sets it and, for the numbers, its field. "OK" checks the whole
// with the rules of profile files and stays open, saying what is wrong, until they hold.
class ConditionsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ConditionsDialog(const RunConditions &conditions, QWidget *parent = nullptr);

    // What the dialog held when "OK" closed it.
    RunConditions conditions() const { return chosen; }

private:
    void accept() override;

    struct Row
    {
        QString key; // in the file
        QString label;
        QCheckBox *box = nullptr;
        QLineEdit *field = nullptr; // none for the soak
    };
    std::array<Row, 5> rows;
    QComboBox *onAlarm = nullptr;
    QLabel *error = nullptr;
    RunConditions chosen;
};

} // namespace chamber
