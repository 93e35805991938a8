#include "widgets.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace ks::ui {

namespace {
constexpr int kTextMargin = 4;  // pixels between the button's edge and its text
}

WrapButton::WrapButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void WrapButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(textArea(), Qt::AlignCenter | Qt::TextWordWrap, text());
}

QRect WrapButton::textArea() const
{
    return rect().adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin);
}

void WrapButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QPushButton::keyPressEvent(event);
        return;
    }
    if (!event->isAutoRepeat()) {  // holding the key down does not repeat a batch pass
        click();
    }
}

LineShape::LineShape(QPoint from, QPoint to, int width, QWidget* parent)
    : QWidget(parent), from_(from), to_(to), width_(width)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    const QRect box = QRect(from, to).normalized().adjusted(-width, -width, width, width);
    setGeometry(box);
}

void LineShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), width_));
    painter.drawLine(from_ - pos(), to_ - pos());
}

void ClientArea::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    emit painted();
}

}  // namespace ks::ui
