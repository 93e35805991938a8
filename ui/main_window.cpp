#include "main_window.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <string_view>
#include <utility>

#include "shell/arguments.h"
#include "shell/info_text.h"
#include "shell/layout.h"
#include "widgets.h"

namespace ks::ui {

namespace {

int px(int twips)
{
    return shell::pixels(twips);
}

QRect pixelRect(const shell::Twips& t)
{
    return QRect(px(t.a), px(t.b), px(t.c), px(t.d));
}

// The layout's font: a sans-serif with Arial's metrics where there is one,
// since the texts were laid out for narrow fonts, else the platform's
// default; Courier New, or a metric-compatible fixed-pitch font.
QFont fontFor(const shell::Font& wanted)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (wanted.face == shell::Face::Fixed) {
        font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    } else {
        font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), font.family()});
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPointSizeF(wanted.points);
    font.setBold(wanted.bold);
    font.setUnderline(wanted.underline);
    return font;
}

QColor colour(std::int32_t rgb)
{
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The list's tooltip: one line for each suffix, shown as written.
QString suffixTip()
{
    QStringList lines;
    for (const std::string_view line : shell::kSuffixTipLines) {
        lines << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).toHtmlEscaped();
    }
    return QStringLiteral("<p style='white-space:pre'>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}

// The first local file or folder among the dragged URLs, or "".
QString draggedPath(const QMimeData* data)
{
    if (data != nullptr && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                return QDir::toNativeSeparators(url.toLocalFile());
            }
        }
    }
    return {};
}

}  // namespace

MainWindow::MainWindow(platform::FileLayer& files, QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frm"));
    setWindowTitle(QString::fromUtf8(workflow::kStartCaption));
    setWindowIcon(appIcon());
    setAcceptDrops(true);
    buildControls();
    ui_ = std::make_unique<QtUi>(this, lst_, lbl_Warten_);
    platform_ = std::make_unique<platform::Platform>(platform::Platform{*ui_, files});
    workflow_ = std::make_unique<workflow::Workflow>(*platform_);
    buildMenu();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    auto* area = new ClientArea(this);
    area->setObjectName(QStringLiteral("client"));
    area->setFixedSize(px(shell::kClientWidthTwips), px(shell::kClientHeightTwips));
    setCentralWidget(area);
    connect(area, &ClientArea::painted, this, &MainWindow::Form_Paint);

    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const shell::Control& c : shell::kControls) {
        const QString text = QString::fromUtf8(c.text);
        QWidget* widget = nullptr;
        switch (c.kind) {
        case shell::Kind::List: {
            lst_ = new EntryList(area);
            lst_->setToolTip(suffixTip());
            widget = lst_;
            break;
        }
        case shell::Kind::Label: {
            auto* label = new WrapLabel(text, area);
            label->setAlignment((c.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
            if (c.background != shell::kDefaultColour || c.foreground != shell::kDefaultColour) {
                QPalette palette = label->palette();
                if (c.foreground != shell::kDefaultColour) {
                    palette.setColor(QPalette::WindowText, colour(c.foreground));
                }
                if (c.background != shell::kDefaultColour) {
                    palette.setColor(QPalette::Window, colour(c.background));
                    label->setAutoFillBackground(true);
                }
                label->setPalette(palette);
            }
            if (std::string_view(c.name) == "lbl_Warten") {
                lbl_Warten_ = label;
            }
            widget = label;
            break;
        }
        case shell::Kind::Button: {
            auto* button = new WrapButton(text, area);
            button->setAutoDefault(false);
            if (c.index >= 0) {
                button->setProperty("index", c.index);
            }
            const shell::Command command = c.command;
            connect(button, &QPushButton::clicked, this, [this, command] { run(command); });
            widget = button;
            break;
        }
        case shell::Kind::Line:
            widget = new LineShape(QPoint(px(c.place.a), px(c.place.b)), QPoint(px(c.place.c), px(c.place.d)),
                                   c.lineWidth, area);
            break;
        }
        widget->setObjectName(QString::fromLatin1(c.name));
        if (c.kind != shell::Kind::Line) {
            widget->setGeometry(pixelRect(c.place));
            widget->setFont(fontFor(c.font));
        }
        widget->setVisible(!c.hiddenAtStart);
        if (c.tabOrder >= 0) {
            focusOrder.emplace_back(c.tabOrder, widget);
        }
    }
    std::sort(focusOrder.begin(), focusOrder.end());
    for (std::size_t i = 1; i < focusOrder.size(); ++i) {
        QWidget::setTabOrder(focusOrder[i - 1].second, focusOrder[i].second);
    }
    lst_->setFocus();
}

void MainWindow::buildMenu()
{
    QMenu* file = nullptr;
    for (const shell::MenuItem& item : shell::kMenu) {
        const QString text = QString::fromUtf8(item.text);
        if (item.opensFileMenu) {
            file = menuBar()->addMenu(text);
            file->setObjectName(QString::fromLatin1(item.name));
            file->setSeparatorsCollapsible(false);
            continue;
        }
        QAction* action = !item.inFileMenu ? menuBar()->addAction(text)
                          : text == QStringLiteral("-") ? file->addSeparator()
                                                        : file->addAction(text);
        action->setObjectName(QString::fromLatin1(item.name));
        if (item.command != shell::Command::None) {
            const shell::Command command = item.command;
            connect(action, &QAction::triggered, this, [this, command] { run(command); });
        }
    }
}

void MainWindow::run(shell::Command command)
{
    if (!workflow_->run(command)) {
        mn_End_Click();
    }
}

void MainWindow::Form_Paint()
{
    if (firstPaint_ > 0) {
        return;
    }
    firstPaint_ = 1;
    // Shown once the paint is done: a modal box must not open inside a paint event.
    QTimer::singleShot(0, this, [this] { workflow_->afterFirstPaint(std::exchange(startPath_, {})); });
}

void MainWindow::listAtStart(const std::string& path)
{
    startPath_ = path.empty() ? std::string() : shell::absolutePath(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!draggedPath(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = draggedPath(event->mimeData());
    if (path.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // Listed once the drop has ended, so that no message box holds up the program the file came from.
    QTimer::singleShot(0, this, [this, path = path.toStdString()] { workflow_->openPath(path); });
}

void MainWindow::mn_End_Click()
{
    close();
    QApplication::quit();
}

QIcon appIcon()
{
    // A map tile, half opaque and half showing the checkerboard of transparency.
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect tile(6, 6, 52, 52);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 2; ++x) {
            painter.fillRect(QRect(32 + x * 13, 6 + y * 13, 13, 13), (x + y) % 2 ? QColor(200, 200, 200) : Qt::white);
        }
    }
    painter.fillRect(QRect(6, 6, 26, 52), QColor(46, 125, 50));
    painter.setPen(QPen(QColor(121, 85, 72), 3));
    painter.drawLine(QPoint(10, 50), QPoint(54, 14));
    painter.setPen(QPen(QColor(33, 33, 33), 2));
    painter.drawRect(tile);
    return QIcon(pixmap);
}

}  // namespace ks::ui
