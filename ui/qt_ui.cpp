#include "qt_ui.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTranslator>
#include <algorithm>
#include <cmath>

#include "shell/info_text.h"

namespace ks::ui {

using platform::Answer;

namespace {

// A message box at least as wide as its whole title, as a window manager draws
// it: in a bold title font, beside the window icon and three buttons.
class TitledMessageBox final : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

    // The width its title bar needs.
    int titleWidth() const
    {
        QFont font = QApplication::font("QMdiSubWindowTitleBar");
        font.setBold(true);
        const QString shown = windowTitle();
        constexpr int kIconAndButtons = 4;  // title-bar squares beside the text
        constexpr int kMargins = 2;         // a square's width of room on either side
        const int square = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        const int width = QFontMetrics(font).horizontalAdvance(shown) + (kIconAndButtons + kMargins) * square;
        return std::min(width, screen()->availableGeometry().width());
    }

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);  // sizes the box for its text, and no wider
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        const int missing = titleWidth() - width();
        if (label != nullptr && missing > 0) {
            // The box takes its width from its layout's whenever that changes: the text grows too.
            label->setMinimumWidth(label->width() + missing);
            setFixedWidth(width() + missing);
        }
    }
};

}  // namespace

bool installGermanQtTexts()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));  // also the file types' names in the dialog
    static QTranslator translator;
    return translator.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
           QCoreApplication::installTranslator(&translator);
}

QtUi::QtUi(QWidget* window, EntryList* list, QLabel* waitLabel)
    : window_(window), list_(list), waitLabel_(waitLabel)
{
}

Answer QtUi::messageBox(const platform::Message& message)
{
    if (messageHook_) {
        return messageHook_(message);
    }
    TitledMessageBox box(window_);
    box.setWindowModality(Qt::WindowModal);
    box.setWindowTitle(QString::fromUtf8(message.title.empty() ? shell::kProgramTitle : message.title));
    box.setTextFormat(Qt::PlainText);
    const QString text = QString::fromStdString(message.prompt).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(text);
    // Qt breaks lines wider than half the screen; the box grows instead, so
    // that every line shows unbroken up to the width of the screen.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        label->ensurePolished();
        const QFontMetricsF metrics(label->font());
        qreal widest = 0;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            widest = std::max(widest, metrics.horizontalAdvance(line));
        }
        label->setMinimumWidth(static_cast<int>(std::ceil(widest)) + 1);
    }
    switch (message.icon) {
    case platform::Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case platform::Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case platform::Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (message.buttons == platform::Buttons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

QString QtUi::nameFilter(const platform::FileFilter& filter)
{
    const QString pattern = QString::fromStdString(filter.pattern);
    QString glob;
    if (pattern == QStringLiteral("*.*")) {
        glob = QStringLiteral("*");
    } else {
        for (const QChar c : pattern) {
            glob += c.isLetter() ? QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper()) : QString(c);
        }
    }
    return QString::fromStdString(filter.description) + QStringLiteral(" (") + glob + QStringLiteral(")");
}

std::optional<std::string> QtUi::chooseFile(const std::vector<platform::FileFilter>& filters,
                                            std::size_t preselectedFilter, const std::string& current)
{
    if (chooseFileHook_) {
        return chooseFileHook_();
    }
    QFileDialog dialog(window_);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    QStringList names;
    for (const auto& filter : filters) {
        names << nameFilter(filter);
    }
    dialog.setNameFilters(names);
    if (preselectedFilter < static_cast<std::size_t>(names.size())) {
        dialog.selectNameFilter(names.at(static_cast<qsizetype>(preselectedFilter)));
    }
    // Qt squeezes the runs of spaces out of a filter's text; the texts are shown as written.
    if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        for (int i = 0; i < types->count() && i < static_cast<int>(filters.size()); ++i) {
            types->setItemText(i, QString::fromStdString(filters[static_cast<std::size_t>(i)].description));
        }
    }
    const QString start = QString::fromStdString(current);
    if (start.isEmpty() || start.endsWith(QDir::separator()) || start.endsWith(QLatin1Char('/'))) {
        dialog.setDirectory(start.isEmpty() ? QDir::current() : QDir(start));
    } else {
        dialog.selectFile(start);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst()).toStdString();
}

void QtUi::listClear()
{
    list_->clear();
}

void QtUi::listAdd(const std::string& text)
{
    list_->add(text);
}

std::size_t QtUi::listCount() const
{
    return static_cast<std::size_t>(list_->count());
}

std::string QtUi::listText(std::size_t i) const
{
    return i < listCount() ? list_->text(static_cast<int>(i)) : std::string();
}

bool QtUi::listMarked(std::size_t i) const
{
    return i < listCount() && list_->marked(static_cast<int>(i));
}

void QtUi::listSetMarked(std::size_t i, bool marked)
{
    if (i < listCount()) {
        list_->setMarked(static_cast<int>(i), marked);
    }
}

void QtUi::listSetAllMarked(bool marked)
{
    if (marked) {
        list_->selectAll();
    } else {
        list_->clearSelection();
    }
}

void QtUi::listFocus(std::size_t i)
{
    const QModelIndex entry = list_->model()->index(static_cast<int>(i), 0);
    list_->setFocus();
    list_->selectionModel()->setCurrentIndex(entry, QItemSelectionModel::NoUpdate);
    list_->scrollTo(entry);
}

void QtUi::setCaption(const std::string& caption)
{
    window_->setWindowTitle(QString::fromStdString(caption));
}

void QtUi::setWaitVisible(bool visible)
{
    waitLabel_->setVisible(visible);
}

void QtUi::processEvents()
{
    // Draws what is pending (the wait label); no click or drop can start a second pass meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::string QtUi::toUpper(const std::string& text) const
{
    return QString::fromStdString(text).toUpper().toStdString();
}

void QtUi::setMessageHook(std::function<Answer(const platform::Message&)> hook)
{
    messageHook_ = std::move(hook);
}

void QtUi::setChooseFileHook(std::function<std::optional<std::string>()> hook)
{
    chooseFileHook_ = std::move(hook);
}

}  // namespace ks::ui
