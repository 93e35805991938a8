#include "main_window.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>

#include "info_text.h"
#include "widgets.h"

namespace ks::ui {

namespace {

int px(int twips)
{
    return qRound(twips / kTwipsPerPixel);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// A sans-serif at a point size: one with Arial's metrics where there is one,
// since the texts were laid out for narrow fonts; else the platform's default.
QFont sans(double points, bool bold = false)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), font.family()});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Courier New, or a metric-compatible fixed-pitch font where it is missing.
QFont fixedPitch(double points)
{
    QFont font;
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(points);
    return font;
}

// A control with its text, named and placed on the client area.
template <typename Control>
Control* place(QWidget* parent, const char* name, const char* text, QRect geometry, const QFont& font)
{
    auto* control = new Control(QString::fromUtf8(text), parent);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    control->setFont(font);
    return control;
}

QLabel* label(QWidget* parent, const char* name, const char* text, QRect geometry, const QFont& font)
{
    auto* l = place<QLabel>(parent, name, text, geometry, font);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const char* text, QRect geometry, const QFont& font)
{
    auto* b = place<WrapButton>(parent, name, text, geometry, font);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

MainWindow::MainWindow(platform::FileLayer& files, QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frm"));
    setWindowTitle(QString::fromUtf8(workflow::kStartCaption));
    setWindowIcon(appIcon());
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
    area->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(area);
    connect(area, &ClientArea::painted, this, &MainWindow::Form_Paint);

    lst_ = new QListWidget(area);
    lst_->setObjectName(QStringLiteral("lst"));
    lst_->setGeometry(twipsRect(300, 30, 5400, 8160));
    lst_->setFont(fixedPitch(9.75));
    lst_->setSelectionMode(QAbstractItemView::MultiSelection);
    lst_->setUniformItemSizes(true);

    const QFont legend = sans(8.25, true);
    label(area, "Label2", "<   >  IMG-Datei ist nicht transparent", twipsRect(6360, 60, 3135, 195), legend);
    label(area, "Label6", "         (IMG-File is not transparent)", twipsRect(6360, 360, 2925, 195), legend);
    label(area, "Label3", "< T >  IMG-Datei  i s t  transparent", twipsRect(6360, 720, 2955, 195), legend);
    label(area, "Label7", "         (IMG-File is transparent)", twipsRect(6360, 960, 2595, 195), legend);

    QPushButton* mark = button(area, "cmd_Mark", "Alle markieren  (Select all)", twipsRect(6180, 1560, 1740, 930), legend);
    QPushButton* nomark =
        button(area, "cmd_nomark", "Keine markieren  (deselect all)", twipsRect(8400, 1560, 1740, 930), legend);

    label(area, "Label4",
          "Auswahl /Markieren: durch Mausklick oder navigieren mit Pfeiltasten und EIN/AUS über Leertaste",
          twipsRect(6360, 2760, 3540, 840), sans(9.75));
    label(area, "Label5",
          "(select/deselect with a mouse click  or navigate with the arrows and select with the space key)",
          twipsRect(6360, 3600, 3525, 780), sans(9.75));

    QFont waitFont = sans(13.5, true);
    waitFont.setUnderline(true);
    lbl_Warten_ = label(area, "lbl_Warten", "  bitte warten ...  (please wait)", twipsRect(6690, 4440, 2700, 810),
                        waitFont);
    lbl_Warten_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lbl_Warten_->setAutoFillBackground(true);
    QPalette waitColours = lbl_Warten_->palette();
    waitColours.setColor(QPalette::WindowText, QColor(255, 0, 0));
    waitColours.setColor(QPalette::Window, QColor(192, 255, 255));
    lbl_Warten_->setPalette(waitColours);
    lbl_Warten_->hide();

    label(area, "Label1", "Alle markierten Dateien", twipsRect(6720, 5400, 2835, 300), sans(12, true));
    label(area, "Label8", "(for all selected files)", twipsRect(6840, 5760, 2535, 300), sans(12, true));

    auto* line1 = new LineShape(QPoint(px(7975), px(6090)), QPoint(px(6990), px(7440)), 2, area);
    line1->setObjectName(QStringLiteral("Line1"));
    auto* line2 = new LineShape(QPoint(px(8385), px(6090)), QPoint(px(9362), px(7440)), 2, area);
    line2->setObjectName(QStringLiteral("Line2"));

    const QFont batch = sans(9.75, true);
    QPushButton* transparent = button(area, "cmd_Trnsp", "Transparent schalten  (make transparent)",
                                      twipsRect(6120, 6840, 1755, 1395), batch);
    transparent->setProperty("index", 1);
    QPushButton* opaque = button(area, "cmd_Trnsp", "N i c h t transparent schalten  (make not transparent)",
                                 twipsRect(8430, 6840, 1743, 1395), batch);
    opaque->setProperty("index", 0);

    QWidget::setTabOrder(lst_, transparent);
    QWidget::setTabOrder(transparent, mark);
    QWidget::setTabOrder(mark, opaque);
    QWidget::setTabOrder(opaque, nomark);

    connect(mark, &QPushButton::clicked, this, [this] { workflow_->cmd_Mark_Click(); });
    connect(nomark, &QPushButton::clicked, this, [this] { workflow_->cmd_nomark_Click(); });
    connect(transparent, &QPushButton::clicked, this, [this] { workflow_->cmd_Trnsp_Click(1); });
    connect(opaque, &QPushButton::clicked, this, [this] { workflow_->cmd_Trnsp_Click(0); });
    lst_->setFocus();
}

void MainWindow::buildMenu()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Datei (file)"));
    file->setObjectName(QStringLiteral("keiner"));
    file->setSeparatorsCollapsible(false);
    QAction* choose = file->addAction(QString::fromUtf8("&Pfad wählen (select path)"));
    choose->setObjectName(QStringLiteral("mn_Datei"));
    file->addSeparator()->setObjectName(QStringLiteral("kein"));
    file->addSeparator()->setObjectName(QStringLiteral("keine"));
    QAction* end = file->addAction(QStringLiteral("&Ende (exit)"));
    end->setObjectName(QStringLiteral("mn_End"));

    QAction* gap = menuBar()->addAction(QStringLiteral("       "));
    gap->setObjectName(QStringLiteral("dummy"));
    QAction* restart = menuBar()->addAction(QStringLiteral("&Neustart (restart)"));
    restart->setObjectName(QStringLiteral("mn_Neustart"));
    QAction* help = menuBar()->addAction(QStringLiteral("&Info"));
    help->setObjectName(QStringLiteral("mn_Help"));

    connect(choose, &QAction::triggered, this, [this] { workflow_->mn_Datei_Click(); });
    connect(end, &QAction::triggered, this, &MainWindow::mn_End_Click);
    connect(restart, &QAction::triggered, this, [this] { workflow_->mn_Neustart_Click(); });
    connect(help, &QAction::triggered, this, &MainWindow::mn_Help_Click);
}

void MainWindow::Form_Paint()
{
    if (firstPaint_ > 0) {
        return;
    }
    firstPaint_ = 1;
    // Shown once the paint is done: a modal box must not open inside a paint event.
    QTimer::singleShot(0, this, &MainWindow::mn_Help_Click);
}

void MainWindow::mn_Help_Click()
{
    std::string text;
    for (std::string_view line : kInfoLines) {
        text.append(line).append("\r\n");
    }
    ui_->messageBox(platform::Message{text, std::string(kInfoTitle), platform::Icon::None, platform::Buttons::Ok});
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
