// The notice shown while the serial ports are scanned at start-up.
#pragma once

#include <QWidget>

class QPushButton;

namespace chamber {

class RS232_portscanning : public QWidget
{
    Q_OBJECT
public:
    explicit RS232_portscanning(QWidget *parent = nullptr);

    QPushButton *Command1 = nullptr;
};

} // namespace chamber
