// Small widgets the window needs that Qt lacks: a push button whose text
// wraps inside it and that Enter clicks, a label that breaks lines only at
// spaces, a line shape between two points, and a lean multi-selection list of
// text entries whose current entry shows only a frame.
#pragma once

#include <QLabel>
#include <QListView>
#include <QPoint>
#include <QPushButton>
#include <QWidget>
#include <string>

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

// A label whose text breaks into lines only at spaces, so that "EIN/AUS" stays whole.
class WrapLabel : public QLabel {
    Q_OBJECT
public:
    WrapLabel(const QString& text, QWidget* parent);

    // The lines it shows, for its width and font.
    QStringList lines() const;

protected:
    void paintEvent(QPaintEvent* event) override;
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

// A multiple-selection list of text entries in which a click or Space toggles
// an entry's mark. It keeps each entry as UTF-8 text only, so that folders of
// tens of thousands of files cost little more than their names.
class EntryList : public QListView {
    Q_OBJECT
public:
    explicit EntryList(QWidget* parent);
    ~EntryList() override;

    // Removes every entry and mark.
    void clear();
    // Appends an entry, unmarked.
    void add(const std::string& text);
    int count() const;
    // The entry's text; "" for a row that does not exist.
    std::string text(int row) const;
    // Whether the entry is marked; false for a row that does not exist.
    bool marked(int row) const;
    // Marks or unmarks the entry; a row that does not exist is ignored.
    void setMarked(int row, bool marked);
    // Where the entry shows, in the viewport's coordinates.
    QRect entryRect(int row) const;
    // The entry's text as it shows: a name too long for the list shortened in its middle.
    QString shownText(int row) const;

private:
    class Model;
    Model* model_;
};

}  // namespace ks::ui
