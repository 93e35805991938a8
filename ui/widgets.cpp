#include "widgets.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QStylePainter>
#include <QToolTip>
#include <vector>

#include "shell/layout.h"

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

WrapLabel::WrapLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

QStringList WrapLabel::lines() const
{
    const QByteArray utf8 = text().toUtf8();
    const QFontMetricsF metrics(font());
    const qreal width = contentsRect().width();
    QStringList result;
    const auto fits = [&](std::string_view line) {
        return metrics.horizontalAdvance(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()))) <= width;
    };
    for (const std::string_view line : shell::breakAtSpaces(std::string_view(utf8.constData(), utf8.size()), fits)) {
        result << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
    return result;
}

void WrapLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    const int step = fontMetrics().lineSpacing();
    int top = area.top();
    for (const QString& line : lines()) {
        painter.drawText(QRect(area.left(), top, area.width(), step), int(alignment() & Qt::AlignHorizontal_Mask), line);
        top += step;
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

// The entries behind the list, one UTF-8 string each; the view's selection holds the marks.
class EntryList::Model final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(texts_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!contains(index.row()) || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
            return {};
        }
        return QString::fromStdString(texts_[static_cast<std::size_t>(index.row())]);
    }

    bool contains(int row) const { return row >= 0 && static_cast<std::size_t>(row) < texts_.size(); }
    const std::string& text(int row) const { return texts_[static_cast<std::size_t>(row)]; }

    void clear()
    {
        beginResetModel();
        std::vector<std::string>().swap(texts_);
        endResetModel();
    }

    void add(const std::string& text)
    {
        const int row = static_cast<int>(texts_.size());
        beginInsertRows({}, row, row);
        texts_.push_back(text);
        endInsertRows();
    }

private:
    std::vector<std::string> texts_;
};

// Draws an entry without the style's fill for the current or hovered entry:
// only a mark fills an entry, and the current one, while the list has the
// focus, gets a dotted frame. A name too long for the list gives way in its
// middle, never the suffix, and the entry's tooltip then shows it whole.
class FrameOnlyDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem plain(option);
        plain.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        QStyledItemDelegate::paint(painter, plain, index);
        if (option.state & QStyle::State_HasFocus) {
            const bool marked = option.state & QStyle::State_Selected;
            painter->save();
            painter->setPen(QPen(option.palette.color(marked ? QPalette::HighlightedText : QPalette::Text), 1,
                                 Qt::DotLine));
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
            painter->restore();
        }
    }

    // The entry's text as it shows in rect.
    QString shown(const QStyleOptionViewItem& option, const QString& text) const
    {
        const QWidget* view = option.widget;
        const QStyle* style = view != nullptr ? view->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;  // as the style's
        const QFontMetricsF metrics(option.font);
        const QByteArray utf8 = text.toUtf8();
        return QString::fromStdString(shell::fitEntry(std::string_view(utf8.constData(), utf8.size()),
                                                      option.rect.width() - 2 * margin, [&](std::string_view t) {
            return metrics.horizontalAdvance(QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size())));
        }));
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString whole = index.data().toString();
        if (event->type() != QEvent::ToolTip || !index.isValid() || item.text == whole) {
            return false;  // the list's own tooltip
        }
        QToolTip::showText(event->globalPos(),
                           QStringLiteral("<p style='white-space:pre'>") + whole.toHtmlEscaped() + QStringLiteral("</p>"),
                           view->viewport(), option.rect);
        return true;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = shown(*option, option->text);
    }
};

EntryList::EntryList(QWidget* parent) : QListView(parent), model_(new Model(this))
{
    setModel(model_);
    setItemDelegate(new FrameOnlyDelegate(this));
    setSelectionMode(QAbstractItemView::MultiSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // a long name gives way in its middle instead
}

EntryList::~EntryList() = default;

void EntryList::clear()
{
    model_->clear();
}

void EntryList::add(const std::string& text)
{
    model_->add(text);
}

int EntryList::count() const
{
    return model_->rowCount({});
}

std::string EntryList::text(int row) const
{
    return model_->contains(row) ? model_->text(row) : std::string();
}

bool EntryList::marked(int row) const
{
    return model_->contains(row) && selectionModel()->isSelected(model_->index(row));
}

void EntryList::setMarked(int row, bool marked)
{
    if (model_->contains(row)) {
        selectionModel()->select(model_->index(row),
                                 marked ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
    }
}

QRect EntryList::entryRect(int row) const
{
    return visualRect(model_->index(row));
}

QString EntryList::shownText(int row) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = entryRect(row);
    return static_cast<const FrameOnlyDelegate*>(itemDelegate())->shown(option, QString::fromStdString(text(row)));
}

}  // namespace ks::ui
