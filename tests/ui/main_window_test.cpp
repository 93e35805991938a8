// The real main window, offscreen: its controls, menu, info box, keyboard
// marking and a whole round trip through the widgets down to the disk.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "support/temp_dir.h"
#include "support/tile_builder.h"
#include "platform/posix_files.h"
#include "shell/info_text.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

namespace ks::ui {
namespace {

using platform::Answer;
using platform::Message;
using testing::TileBuilder;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
    {
        window.qtUi().setMessageHook([this](const Message& m) {
            messages.push_back(m);
            waitShownDuringBox.push_back(findChild<QLabel>("lbl_Warten")->isVisibleTo(&window));
            return Answer::Ok;
        });
    }

    template <typename T>
    T* findChild(const char* name)
    {
        T* child = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QAbstractButton* batchButton(int index)
    {
        for (auto* b : window.findChildren<QAbstractButton*>(QStringLiteral("cmd_Trnsp"))) {
            if (b->property("index").toInt() == index) {
                return b;
            }
        }
        ADD_FAILURE() << "no cmd_Trnsp with index " << index;
        return nullptr;
    }
    QAction* action(const char* name) { return findChild<QAction>(name); }
    QListWidget* list() { return findChild<QListWidget>("lst"); }
    std::vector<std::string> entries()
    {
        std::vector<std::string> texts;
        for (int i = 0; i < list()->count(); ++i) {
            texts.push_back(list()->item(i)->text().toStdString());
        }
        return texts;
    }
    void showAndSettle()
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(20);
    }

    platform::PosixFileLayer files;
    MainWindow window{files};
    std::vector<Message> messages;
    std::vector<bool> waitShownDuringBox;
};

struct ControlRow {
    const char* name;
    int index;  // for the cmd_Trnsp pair, else -1
    const char* text;
    QRect twips;
    double points;
    bool bold;
};

TEST_F(MainWindowTest, ControlsStandWhereTheLayoutPutsThem)
{
    const ControlRow rows[] = {
        {"Label2", -1, "<   >  IMG-Datei ist nicht transparent", {6360, 60, 3135, 195}, 8.25, true},
        {"Label6", -1, "         (IMG-File is not transparent)", {6360, 360, 2925, 195}, 8.25, true},
        {"Label3", -1, "< T >  IMG-Datei  i s t  transparent", {6360, 720, 2955, 195}, 8.25, true},
        {"Label7", -1, "         (IMG-File is transparent)", {6360, 960, 2595, 195}, 8.25, true},
        {"cmd_Mark", -1, "Alle markieren  (Select all)", {6180, 1560, 1740, 930}, 8.25, true},
        {"cmd_nomark", -1, "Keine markieren  (deselect all)", {8400, 1560, 1740, 930}, 8.25, true},
        {"Label4", -1,
         "Auswahl /Markieren: durch Mausklick oder navigieren mit Pfeiltasten und EIN/AUS über Leertaste",
         {6360, 2760, 3540, 840}, 9.75, false},
        {"Label5", -1,
         "(select/deselect with a mouse click  or navigate with the arrows and select with the space key)",
         {6360, 3600, 3525, 780}, 9.75, false},
        {"lbl_Warten", -1, "  bitte warten ...  (please wait)", {6690, 4440, 2700, 810}, 13.5, true},
        {"Label1", -1, "Alle markierten Dateien", {6720, 5400, 2835, 300}, 12, true},
        {"Label8", -1, "(for all selected files)", {6840, 5760, 2535, 300}, 12, true},
        {"cmd_Trnsp", 1, "Transparent schalten  (make transparent)", {6120, 6840, 1755, 1395}, 9.75, true},
        {"cmd_Trnsp", 0, "N i c h t transparent schalten  (make not transparent)", {8430, 6840, 1743, 1395}, 9.75,
         true},
    };
    const auto px = [](QRect t) {
        return QRect(qRound(t.x() / 15.0), qRound(t.y() / 15.0), qRound(t.width() / 15.0), qRound(t.height() / 15.0));
    };
    for (const ControlRow& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget* w = row.index >= 0 ? batchButton(row.index) : findChild<QWidget>(row.name);
        ASSERT_NE(w, nullptr);
        const QString text = row.index >= 0 || QString(row.name).startsWith("cmd")
                                 ? qobject_cast<QAbstractButton*>(w)->text()
                                 : qobject_cast<QLabel*>(w)->text();
        EXPECT_EQ(text.toStdString(), row.text);
        EXPECT_EQ(w->geometry(), px(row.twips));
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), row.points);
        EXPECT_EQ(w->font().bold(), row.bold);
    }

    QListWidget* lst = list();
    EXPECT_EQ(lst->geometry(), QRect(20, 2, 360, 544));
    EXPECT_EQ(lst->selectionMode(), QAbstractItemView::MultiSelection);
    const QString family = QFontInfo(lst->font()).family();
    EXPECT_TRUE(family == "Courier New" || family == "Liberation Mono") << family.toStdString();
    EXPECT_TRUE(QFontInfo(lst->font()).fixedPitch());
    EXPECT_DOUBLE_EQ(lst->font().pointSizeF(), 9.75);

    auto* wait = findChild<QLabel>("lbl_Warten");
    EXPECT_TRUE(wait->font().underline());
    EXPECT_EQ(wait->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(wait->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(wait->palette().color(QPalette::Window), QColor(192, 255, 255));
    EXPECT_TRUE(wait->isHidden());

    auto* line1 = findChild<LineShape>("Line1");
    auto* line2 = findChild<LineShape>("Line2");
    EXPECT_EQ(line1->from(), QPoint(532, 406));
    EXPECT_EQ(line1->to(), QPoint(466, 496));
    EXPECT_EQ(line2->from(), QPoint(559, 406));
    EXPECT_EQ(line2->to(), QPoint(624, 496));
    EXPECT_EQ(line1->lineWidth(), 2);

    EXPECT_EQ(window.centralWidget()->size(), QSize(698, 554));
    EXPECT_EQ(window.windowTitle().toStdString(), "  P f a d  wählen!");
}

TEST_F(MainWindowTest, TheWindowHasAFixedSize)
{
    showAndSettle();
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.centralWidget()->size(), QSize(698, 554));
}

TEST_F(MainWindowTest, TabMovesFocusInTheWindowsOrder)
{
    showAndSettle();
    QApplication::setActiveWindow(&window);
    list()->setFocus();
    const std::vector<QWidget*> order = {batchButton(1), findChild<QWidget>("cmd_Mark"), batchButton(0),
                                         findChild<QWidget>("cmd_nomark"), list()};
    for (QWidget* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected)
            << "got " << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "");
    }
}

TEST_F(MainWindowTest, TheMenuOffersFolderChoiceExitRestartAndInfo)
{
    QList<QAction*> top = window.menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[0]->text().toStdString(), "&Datei (file)");
    EXPECT_EQ(top[0]->menu()->objectName().toStdString(), "keiner");
    EXPECT_EQ(top[1]->text().toStdString(), "       ");
    EXPECT_EQ(top[1]->objectName().toStdString(), "dummy");
    EXPECT_EQ(top[2]->text().toStdString(), "&Neustart (restart)");
    EXPECT_EQ(top[2]->objectName().toStdString(), "mn_Neustart");
    EXPECT_EQ(top[3]->text().toStdString(), "&Info");
    EXPECT_EQ(top[3]->objectName().toStdString(), "mn_Help");

    QList<QAction*> file = top[0]->menu()->actions();
    ASSERT_EQ(file.size(), 4);
    EXPECT_EQ(file[0]->text().toStdString(), "&Pfad wählen (select path)");
    EXPECT_EQ(file[0]->objectName().toStdString(), "mn_Datei");
    EXPECT_TRUE(file[1]->isSeparator());
    EXPECT_EQ(file[1]->objectName().toStdString(), "kein");
    EXPECT_TRUE(file[2]->isSeparator());
    EXPECT_EQ(file[2]->objectName().toStdString(), "keine");
    EXPECT_EQ(file[3]->text().toStdString(), "&Ende (exit)");
    EXPECT_EQ(file[3]->objectName().toStdString(), "mn_End");

    top[1]->trigger();  // the gap does nothing
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window.windowTitle().toStdString(), "  P f a d  wählen!");
}

TEST(MainWindowInfo, TheInfoBoxOpensOnceAtTheFirstPaintAndThenOnlyThroughInfo)
{
    platform::PosixFileLayer files;
    MainWindow window(files);
    std::vector<QString> texts;
    QTimer dismiss;  // plays the user: reads every box and presses OK
    QObject::connect(&dismiss, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(box->windowTitle().toStdString(), "     Karten transparent schalten");
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            texts.push_back(box->text());
            box->button(QMessageBox::Ok)->click();
        }
    });
    dismiss.start(10);
    window.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !texts.empty(); }, 3000));
    window.hide();
    window.show();
    window.repaint();
    QTest::qWait(50);
    ASSERT_EQ(texts.size(), 1U) << "covering and uncovering does not bring it back";

    QString expected;
    for (auto line : shell::kInfoLines) {
        expected += QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())) + '\n';
    }
    EXPECT_EQ(texts[0].toStdString(), expected.toStdString());
    EXPECT_TRUE(texts[0].contains(QString::fromUtf8("Menüpunkt \u201ANeustart'\n"))) << "U+201A opens the quote";

    QTimer::singleShot(0, &window, [&] { window.findChild<QAction*>(QStringLiteral("mn_Help"))->trigger(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return texts.size() == 2; }, 3000));
}

TEST_F(MainWindowTest, ARoundTripThroughTheWidgetsChangesTheMarkedMaps)
{
    showAndSettle();
    messages.clear();
    waitShownDuringBox.clear();
    testing::TempDir dir;
    testing::writeFile(dir.file("a.img"), TileBuilder::ordinary(0x00).build());
    testing::writeFile(dir.file("B.IMG"), TileBuilder::ordinary(0x02).build());
    testing::writeFile(dir.file("C.IMG"), TileBuilder::ordinary(0x10).masked().build());
    testing::writeFile(dir.file("notes.txt"), testing::Bytes(40, 'n'));
    const testing::Bytes before = testing::readFile(dir.file("a.img"));
    int dialogs = 0;
    window.qtUi().setChooseFileHook([&] {
        ++dialogs;
        return std::optional<std::string>(dir.file("a.img"));
    });

    action("mn_Datei")->trigger();

    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(entries(), (std::vector<std::string>{"A.IMG  < >", "B.IMG  <T>", "C.IMG  < >"}));
    const std::string shownDir = QString::fromStdString(dir.path()).toUpper().toStdString();
    EXPECT_EQ(window.windowTitle().toStdString(), "Pfad " + shownDir + " hat 3 Dateien");
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].prompt, "Datei " + shownDir + "NOTES.TXT ist keine IMG  ");
    EXPECT_EQ(waitShownDuringBox, std::vector<bool>{true}) << "the wait label shows while the folder is listed";
    EXPECT_TRUE(findChild<QLabel>("lbl_Warten")->isHidden());

    QTest::mouseClick(findChild<QWidget>("cmd_Mark"), Qt::LeftButton);
    EXPECT_EQ(list()->selectedItems().size(), 3);
    QTest::mouseClick(batchButton(1), Qt::LeftButton);

    ASSERT_EQ(messages.size(), 3U);
    EXPECT_EQ(messages[1].prompt, "Transparenz-Änderung beendet ... (finished)");
    EXPECT_EQ(entries(), (std::vector<std::string>{"A.IMG  <T>", "B.IMG  <T>", "C.IMG  <T>"}));
    EXPECT_TRUE(list()->selectedItems().isEmpty());
    const testing::Bytes after = testing::readFile(dir.file("a.img"));
    EXPECT_EQ(after, TileBuilder::ordinary(0x02).build());

    QTest::mouseClick(findChild<QWidget>("cmd_Mark"), Qt::LeftButton);
    QTest::mouseClick(findChild<QWidget>("cmd_nomark"), Qt::LeftButton);
    EXPECT_TRUE(list()->selectedItems().isEmpty());
}

TEST_F(MainWindowTest, RestartEmptiesTheWindowWithTheLongCaption)
{
    testing::TempDir dir;
    testing::writeFile(dir.file("A.IMG"), TileBuilder::ordinary(0x00).build());
    window.qtUi().setChooseFileHook([&] { return std::optional<std::string>(dir.file("A.IMG")); });
    action("mn_Datei")->trigger();
    list()->selectAll();
    action("mn_Neustart")->trigger();
    EXPECT_EQ(list()->count(), 0);
    EXPECT_EQ(window.windowTitle().toStdString(), "  P f a d  wählen! (select path)");
}

TEST_F(MainWindowTest, ArrowKeysMoveAndSpaceOrAClickTogglesTheMark)
{
    showAndSettle();
    for (const char* text : {"A.IMG  < >", "B.IMG  <T>", "C.IMG  < >"}) {
        list()->addItem(QString::fromUtf8(text));
    }
    QApplication::setActiveWindow(&window);
    list()->setFocus();
    list()->setCurrentRow(0, QItemSelectionModel::NoUpdate);

    QTest::keyClick(list(), Qt::Key_Down);
    QTest::keyClick(list(), Qt::Key_Down);
    EXPECT_TRUE(list()->selectedItems().isEmpty()) << "moving does not mark";
    QTest::keyClick(list(), Qt::Key_Space);
    EXPECT_TRUE(list()->item(2)->isSelected());
    QTest::keyClick(list(), Qt::Key_Up);
    QTest::keyClick(list(), Qt::Key_Space);
    EXPECT_TRUE(list()->item(1)->isSelected());
    EXPECT_TRUE(list()->item(2)->isSelected()) << "marks add up";
    QTest::keyClick(list(), Qt::Key_Space);
    EXPECT_FALSE(list()->item(1)->isSelected());

    const QPoint centre = list()->visualItemRect(list()->item(0)).center();
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_TRUE(list()->item(0)->isSelected());
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_FALSE(list()->item(0)->isSelected());
    EXPECT_TRUE(list()->item(2)->isSelected());
}

TEST_F(MainWindowTest, ExitClosesTheWindowWithoutAQuestion)
{
    showAndSettle();
    messages.clear();
    action("mn_End")->trigger();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(messages.empty());
}

TEST(QtUiFilters, TheImgFilterMatchesAnyCaseAndAllFilesMatchesEveryName)
{
    EXPECT_EQ(QtUi::nameFilter({"IMGs   *.IMG", "*.IMG"}).toStdString(), "IMGs   *.IMG (*.[iI][mM][gG])");
    EXPECT_EQ(QtUi::nameFilter({"Alle files  *.*", "*.*"}).toStdString(), "Alle files  *.* (*)");
}

}  // namespace
}  // namespace ks::ui
