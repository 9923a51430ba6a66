// The modal alert dialog: layout, icon and the buttons that set its result.
#include "dialogs/z_alert.h"

#include "util/design.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextEdit>

namespace chamber {

namespace {

constexpr int alertClientWidth = 4815;
constexpr int alertClientHeight = 3120;
constexpr int alertIconPixels = 32;

// A red warning triangle with a white exclamation mark, drawn here so no image file is needed.
QIcon alertIcon()
{
    QPixmap pixmap(alertIconPixels, alertIconPixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath triangle;
    triangle.moveTo(16, 2);
    triangle.lineTo(31, 29);
    triangle.lineTo(1, 29);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(128, 0, 0), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(255, 0, 0));
    painter.drawPath(triangle);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    QPainterPath bar;
    bar.moveTo(14, 10);
    bar.lineTo(18, 10);
    bar.lineTo(17, 21);
    bar.lineTo(15, 21);
    bar.closeSubpath();
    painter.drawPath(bar);
    painter.drawEllipse(QRectF(14, 23, 4, 4));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

Z_alert::Z_alert(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    designDialog(this, alertClientWidth, alertClientHeight);
    setWindowIcon(alertIcon());

    // made first so that it lies beneath "OK"; it only carries the result and is never seen
    respond = place(new QRadioButton(this), {360, 2580, 255, 195}, QStringLiteral("respond"),
                    QStringLiteral("Result"));
    // an auto-exclusive radio button refuses to be cleared once checked
    respond->setAutoExclusive(false);
    respond->setChecked(false);
    respond->hide();

    message = place(new QTextEdit(this), {120, 60, 4575, 2415}, QStringLiteral("message"),
                    QStringLiteral("Message"));
    message->setReadOnly(true);
    message->setAcceptRichText(false);
    message->setLineWrapMode(QTextEdit::WidgetWidth);
    message->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    message->setFont(designFont(8.25, true));
    QPalette palette = message->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    message->setPalette(palette);
    message->setAlignment(Qt::AlignHCenter);

    const std::array<QString, 2> captions{QStringLiteral("OK"), QStringLiteral("Cancel")};
    const std::array<int, 2> lefts{120, 3720};
    for (int i = 0; i < int(Command1.size()); ++i) {
        Command1[i] = place(new QPushButton(captions[i], this), {lefts[i], 2580, 975, 345},
                            QStringLiteral("Command1(%1)").arg(i), captions[i]);
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    respond->stackUnder(Command1[0]);

    setTabOrder(Command1[0], Command1[1]);
    setTabOrder(Command1[1], respond);
    setTabOrder(respond, message);
    Command1[0]->setFocus();
}

void Z_alert::Command1_Click(int Index)
{
    if (Index == 0)
        respond->setChecked(true);
    else if (Index == 1)
        respond->setChecked(false);
    done(respond->isChecked() ? Accepted : Rejected);
}

} // namespace chamber

#include "moc_z_alert.cpp"
