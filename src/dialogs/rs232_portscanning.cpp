// The notice shown while the serial ports are scanned: one large button that does nothing.
#include "dialogs/rs232_portscanning.h"

#include "util/design.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace chamber {

namespace {

constexpr int noticeClientWidth = 2775;
constexpr int noticeClientHeight = 975;

// A button whose caption wraps onto several lines when it is wider than the button, as the
// notice's long caption must.
class WrappingButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, &option, this);
        const QRect area = rect().adjusted(margin / 2, 0, -margin / 2, 0);
        painter.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap, palette(), isEnabled(),
                             text(), QPalette::ButtonText);
    }
};

} // namespace

// A frameless tool window needs no window manager: it is placed, sized and drawn by the program.
RS232_portscanning::RS232_portscanning(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    designDialog(this, noticeClientWidth, noticeClientHeight);
    // a notice, not a place to type: showing it must not take the focus from anyone
    setAttribute(Qt::WA_ShowWithoutActivating);

    const QString caption = QStringLiteral("Scanning for serial ports, please wait...");
    Command1 = place(new WrappingButton(caption, this), {60, 60, 2655, 855},
                     QStringLiteral("Command1"), caption);
    Command1->setFont(designFont(12, true));
    Command1->setFocusPolicy(Qt::NoFocus);

    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

} // namespace chamber

#include "moc_rs232_portscanning.cpp"
