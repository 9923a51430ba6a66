// The question asked at start when the last run did not end: take it up again, end it at the rest
// setpoint, or leave the chamber as it is.
#pragma once

#include <QDialog>

namespace chamber {

enum class RecoveryChoice { Ask, Resume, End, Leave };

class RecoveryDialog : public QDialog
{
    Q_OBJECT
public:
    // cannotResume: why "Resume" is not offered; empty when it is.
    RecoveryDialog(const QString &description, const QString &cannotResume,
                   QWidget *parent = nullptr);

    // What was chosen; Ask when the dialog was closed without a choice.
    RecoveryChoice choice() const { return chosen; }

private:
    RecoveryChoice chosen = RecoveryChoice::Ask;
};

} // namespace chamber
