// The modal alert dialog through which errors reach the operator.
#pragma once

#include <QDialog>

#include <array>

class QPushButton;
class QRadioButton;
class QTextEdit;

namespace chamber {

class Z_alert : public QDialog
{
    Q_OBJECT
public:
    explicit Z_alert(QWidget *parent = nullptr);

    QTextEdit *message = nullptr;
    std::array<QPushButton *, 2> Command1{}; // 0 "OK", 1 "Cancel"
    QRadioButton *respond = nullptr;         // the result; hidden beneath "OK"

private:
    void Command1_Click(int Index);
};

} // namespace chamber
