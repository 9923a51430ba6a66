// The window's side of the controller link: sending commands and decoding replies.
#include "main/main.h"

#include "link/frames.h"
#include "link/replies.h"
#include "util/basicutilities.h"
#include "util/numbertext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>

namespace chamber {

namespace {
constexpr int pauseHundredths = 5;
constexpr int decodeAll = 255;
} // namespace

void main::transmit(const QString &mode, double dataout)
{
    const QByteArray frame = frameFor(mode, dataout);
    if (frame.isEmpty())
        return; // an unknown command word sends nothing and says nothing
    comwrite(frame, pauseHundredths);
}

void main::comwrite(const QByteArray &datain, int timetowait)
{
    if (!portready) {
        // at once, unless asked inside a pause, where it must not hold the tick
        basicutilities::alertWhenFree(
            QStringLiteral("Serial port error"),
            QStringLiteral("Please select an active serial port before attepmting "
                           "to comunicate with your peripheral device!"),
            0);
        return;
    }
    // told before it goes: a fast line's echo can be decoded inside SendData
    noteSent(datain);
    rs232->SendData(datain);
    if (timetowait > 0) {
        // pumps events: tick and replies may run here
        basicutilities::delay(timetowait);
    }
}

void main::rs232_DataArrival()
{
    rxbuffer += rs232->ReadData();
    boundRxBuffer(rxbuffer);
    process(decodeAll, QString(), 0, 0, 0);
}

void main::process(int Index, const QString &datain, int destinationx, int timeoutx, int delayx)
{
    Q_UNUSED(datain);
    Q_UNUSED(destinationx);
    Q_UNUSED(timeoutx);
    Q_UNUSED(delayx);
    if (Index != decodeAll)
        return;
    basicutilities::PumpScope pumping;
    for (;;) {
        // rxbuffer is read afresh on every pass: a nested call may have decoded part of it
        const std::optional<Reply> reply = cutReply(rxbuffer);
        if (!reply)
            return;
        rxbuffer.remove(0, reply->length);
        switch (reply->kind) {
        case Reply::Temperature:
            currenttemp->setText(writenumber(reply->value / 10.0, 1));
            autosamples->setChecked(!autosamples->isChecked());
            break;
        case Reply::Echo:
            break; // it confirms the setpoint sent: see pendingWrite below
        case Reply::BadCrc:
        case Reply::Exception:
            // a refused command is counted like a corrupted reply: the operator must see both
            errorcount->setText(writenumber(readnumber(errorcount->text()) + 1, 0));
            break;
        }
        noteReply(*reply);
        noteWrite(pendingWrite.replied(*reply));
        // pumps events: tick and replies may run here
        QCoreApplication::processEvents();
    }
}

void main::resendSetpoint()
{
    if (!portready)
        return; // the port went during the tick's pause
    const PendingWrite::Verdict verdict = pendingWrite.afterPoll();
    if (verdict.kind != PendingWrite::Verdict::Resend) {
        noteWrite(verdict);
        return;
    }
    resending = true;
    // pumps events: tick and replies may run here
    transmit(QStringLiteral("settemp"), verdict.tenths);
    resending = false;
}

void main::rs232_PortLost()
{
    if (!portready)
        return;
    cyclerun->setEnabled(false); // a run needs a port again
    dropPort(rs232->lasterror());
}

} // namespace chamber
