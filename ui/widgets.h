// Small widgets the window needs that Qt lacks: a push button whose text
// wraps inside it and that Enter clicks, and a line shape between two points.
#pragma once

#include <QPoint>
#include <QPushButton>
#include <QWidget>

namespace ks::ui {

// A push button that word-wraps its text, centred, inside its own area;
// Return and Enter click it when it has the focus, as Space does.
class WrapButton : public QPushButton {
    Q_OBJECT
public:
    WrapButton(const QString& text, QWidget* parent);

    // The area its text is drawn in, in its own coordinates.
    QRect textArea() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// A line of the given width from `from` to `to`, in the parent's coordinates;
// it takes no mouse input.
class LineShape : public QWidget {
    Q_OBJECT
public:
    LineShape(QPoint from, QPoint to, int width, QWidget* parent);

    QPoint from() const { return from_; }
    QPoint to() const { return to_; }
    int lineWidth() const { return width_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint from_;
    QPoint to_;
    int width_;
};

// The window's client area; reports each paint so the window can react to its first.
class ClientArea : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

signals:
    void painted();

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace ks::ui
