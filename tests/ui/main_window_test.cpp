// The real main window, offscreen, checked for what a person notices: every
// control in its place and every text in its box, the keys, the menu, the
// info box, the open-file dialog, a path given at start or dropped, and a
// round trip through the widgets down to the bytes on disk.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <algorithm>

#include "platform/posix_files.h"
#include "shell/info_text.h"
#include "support/temp_dir.h"
#include "support/tile_builder.h"
#include "ui/main_window.h"
#include "ui/widgets.h"

namespace ks::ui {
namespace {

using testing::TileBuilder;
using Entries = std::vector<std::string>;

// One window whose message boxes are recorded and answered with OK.
struct Harness {
    Harness()
    {
        window.qtUi().setMessageHook([this](const platform::Message& m) {
            messages.push_back(m);
            during.emplace_back(child("lbl_Warten")->isVisibleTo(&window), list()->count());
            return platform::Answer::Ok;
        });
    }
    template <typename T = QWidget>
    T* child(const char* name)
    {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    EntryList* list() { return child<EntryList>("lst"); }
    QAction* action(const char* name) { return child<QAction>(name); }
    QWidget* batch(int index)
    {
        const auto pair = window.findChildren<QWidget*>(QStringLiteral("cmd_Trnsp"));
        const auto it = std::find_if(pair.begin(), pair.end(), [&](auto* b) { return b->property("index") == index; });
        return it == pair.end() ? nullptr : *it;
    }
    // The list's entries, each marked one followed by " *".
    Entries entries()
    {
        Entries texts;
        for (int i = 0; i < list()->count(); ++i) {
            texts.push_back(list()->text(i) + (list()->marked(i) ? " *" : ""));
        }
        return texts;
    }
    std::string caption() const { return window.windowTitle().toStdString(); }
    // Shows and activates the window, and waits for the info box of its first paint.
    void show()
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !messages.empty(); }));
    }

    platform::PosixFileLayer files;
    MainWindow window{files};
    std::vector<platform::Message> messages;
    std::vector<std::pair<bool, int>> during;  // each box: whether the wait label showed, entries listed
};

// Runs action while a timer plays the user on each modal window of type W.
template <typename W, typename Action, typename User>
void withUser(const Action& action, const User& user)
{
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
            user(w);
        }
    });
    timer.start(10);
    action();
}

TEST(MainWindow, EveryControlAndMenuItemIsInPlaceEveryTextFitsItsBoxTheGapDoesNothingAndExitAsksNothing)
{
    Harness h;
    h.show();
    QWidget* client = h.window.centralWidget();
    EXPECT_EQ(client->size(), QSize(shell::pixels(shell::kClientWidthTwips), shell::pixels(shell::kClientHeightTwips)));
    EXPECT_EQ(h.window.minimumSize(), h.window.maximumSize());
    const auto controls = client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(controls.size(), std::size(shell::kControls));
    for (const QWidget* a : controls) {
        EXPECT_TRUE(client->rect().contains(a->geometry())) << a->objectName().toStdString();
        for (const QWidget* b : controls) {
            const bool line = qobject_cast<const LineShape*>(a) || qobject_cast<const LineShape*>(b);
            EXPECT_TRUE(a == b || line || !a->geometry().intersects(b->geometry()))
                << a->objectName().toStdString() << " overlaps " << b->objectName().toStdString();
        }
    }
    const auto fits = [](const QWidget* w, const QRect& box, int flags, const QString& text) {
        const QRect needed = QFontMetrics(w->font()).boundingRect(box, flags, text);
        EXPECT_TRUE(needed.width() <= box.width() && needed.height() <= box.height()) << text.toStdString();
    };
    for (const WrapLabel* label : client->findChildren<WrapLabel*>()) {
        const QStringList lines = label->lines();
        fits(label, label->contentsRect(), int(label->alignment()), lines.join(QLatin1Char('\n')));
        EXPECT_EQ(lines.join(QLatin1Char(' ')).simplified(), label->text().simplified()) << "broken at spaces only";
    }
    for (const WrapButton* button : client->findChildren<WrapButton*>()) {
        fits(button, button->textArea(), Qt::AlignCenter | Qt::TextWordWrap, button->text());
    }
    EXPECT_TRUE(QFontInfo(h.list()->font()).fixedPitch());
    EXPECT_TRUE(h.child("lbl_Warten")->isHidden());

    std::vector<std::pair<std::string, std::string>> items;  // text ("-" for a separator), name
    for (const QAction* top : h.window.menuBar()->actions()) {
        const QMenu* menu = top->menu();
        items.emplace_back(top->text().toStdString(), (menu ? menu->objectName() : top->objectName()).toStdString());
        for (const QAction* a : menu ? menu->actions() : QList<QAction*>()) {
            items.emplace_back(a->isSeparator() ? "-" : a->text().toStdString(), a->objectName().toStdString());
        }
    }
    EXPECT_EQ(items, (std::vector<std::pair<std::string, std::string>>{
                         {"&Datei (file)", "keiner"}, {"&Pfad wählen (select path)", "mn_Datei"}, {"-", "kein"},
                         {"-", "keine"}, {"&Ende (exit)", "mn_End"}, {"       ", "dummy"},
                         {"&Neustart (restart)", "mn_Neustart"}, {"&Info", "mn_Help"}}));
    h.action("dummy")->trigger();
    EXPECT_EQ(h.caption(), workflow::kStartCaption);
    h.action("mn_End")->trigger();
    EXPECT_FALSE(h.window.isVisible());
    EXPECT_EQ(h.messages.size(), 1U) << "only the info box";
}

TEST(MainWindow, TheInfoBoxOpensAtTheFirstPaintThenOnlyThroughInfoWithEveryLineUnbroken)
{
    Harness h;
    h.window.qtUi().setMessageHook({});
    std::vector<QString> texts;
    const auto read = [&](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle().toStdString(), shell::kInfoTitle);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        for (const std::string_view line : shell::kInfoLines) {
            const int width = QFontMetrics(label->font()).horizontalAdvance(QString::fromUtf8(line));
            EXPECT_LE(width, label->contentsRect().width()) << line;
        }
        EXPECT_LE(box->frameGeometry().width(), box->screen()->availableGeometry().width());
        texts.push_back(box->text());
        box->button(QMessageBox::Ok)->click();
    };
    withUser<QMessageBox>(
        [&] {
            h.window.show();
            ASSERT_TRUE(QTest::qWaitFor([&] { return texts.size() == 1; }));
            h.window.hide();
            h.window.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.window));
            h.window.repaint();
            QCoreApplication::processEvents();  // a second box would open here and be read before this returns
            EXPECT_EQ(texts.size(), 1U) << "covering and uncovering does not bring it back";
            h.action("mn_Help")->trigger();
        },
        read);
    ASSERT_EQ(texts.size(), 2U);
    EXPECT_EQ(texts[0], QString::fromStdString(shell::infoText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    EXPECT_TRUE(texts[0].endsWith(QString::fromUtf8("Menüpunkt \u201ANeustart'\n"))) << "U+201A opens the quote";
}

TEST(MainWindow, TheOpenFileDialogShowsItsFilterTextsExactlyWithTheImgOnePreselected)
{
    Harness h;
    QStringList filters, texts;
    int preselected = -1;
    withUser<QFileDialog>([&] { h.action("mn_Datei")->trigger(); }, [&](QFileDialog* dialog) {
        const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; i < types->count(); ++i) {
            filters << types->itemText(i);
        }
        preselected = types->currentIndex();
        texts << dialog->windowTitle() << dialog->findChild<QLabel*>(QStringLiteral("fileTypeLabel"))->text();
        const auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        texts << buttons->button(QDialogButtonBox::Open)->text() << buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    EXPECT_EQ(filters, QStringList({QStringLiteral("Alle files  *.*"), QStringLiteral("IMGs   *.IMG")}));
    EXPECT_EQ(preselected, 1);
    EXPECT_EQ(texts, QStringList({QStringLiteral("Öffnen"), QStringLiteral("Dateien des Typs:"), QStringLiteral("&Öffnen"),
                                  QStringLiteral("Abbrechen")})) << "Qt's own texts in German";
    ASSERT_EQ(h.messages.size(), 1U) << "Cancel with nothing chosen before: no IMG";
    EXPECT_EQ(h.messages[0].title, "F e h l e r, keine IMG-Datei!! (not an IMG)");
    EXPECT_EQ(h.caption(), workflow::kRestartCaption);
}

TEST(MainWindow, EveryBoxShowsItsWholeTitleWithGermanButtonsAndTheListsTooltipExplainsEverySuffix)
{
    using platform::Buttons;
    using platform::Icon;
    Harness h;
    h.show();
    h.window.qtUi().setMessageHook({});
    const platform::Message boxes[] = {{"Fehler : 75", "", Icon::Warning, Buttons::Ok},
                                       {"", "F e h l e r, keine IMG-Datei!! (not an IMG)", Icon::None, Buttons::Ok},
                                       {"Kein Zugriff auf A.IMG", "Fehler ! (R-Attribut ??)", Icon::Critical,
                                        Buttons::OkCancel}};
    QStringList buttons;
    for (const platform::Message& m : boxes) {
        withUser<QMessageBox>([&] { h.window.qtUi().messageBox(m); }, [&](QMessageBox* box) {
            QFont font = QApplication::font("QMdiSubWindowTitleBar");
            font.setBold(true);
            const QString title = box->windowTitle();
            EXPECT_EQ(title.toStdString(), m.title.empty() ? shell::kProgramTitle : m.title) << "as in the Win32 window";
            const int iconAndButtons = 4 * box->style()->pixelMetric(QStyle::PM_TitleBarHeight);
            EXPECT_GE(box->width(), QFontMetrics(font).horizontalAdvance(title) + iconAndButtons) << m.title;
            for (const QAbstractButton* button : box->buttons()) {
                buttons << button->text();
            }
            box->button(QMessageBox::Ok)->click();
        });
    }
    EXPECT_EQ(buttons.join(QLatin1Char(' ')), QStringLiteral("OK OK OK Abbrechen"));

    QHelpEvent hover(QEvent::ToolTip, QPoint(20, 20), h.list()->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(h.list()->viewport(), &hover);
    QTextDocument tip;
    tip.setHtml(QToolTip::text());
    QStringList lines;
    for (const std::string_view line : shell::kSuffixTipLines) {
        lines << QString::fromUtf8(line);
    }
    EXPECT_EQ(tip.toPlainText(), lines.join(QLatin1Char('\n')));
}

TEST(MainWindow, ALongNameGivesWayInItsMiddleNeverItsSuffixAndItsTooltipShowsItWhole)
{
    Harness h;
    h.show();
    const QString name = QStringLiteral("HÖHENLINIEN_SCHWARZWALD_NORD_SEHR_LANGER_DATEINAME_2024.IMG");
    const QString suffixes[] = {QStringLiteral("  <T 1/2>"), QStringLiteral(" Kein Zugriff möglich"), QStringLiteral("  < >")};
    for (const QString& suffix : suffixes) {
        h.window.qtUi().listAdd((name + suffix).toStdString());
    }
    h.window.qtUi().listAdd("A.IMG  <T>");
    for (int row = 0; row < 4; ++row) {
        const QString whole = QString::fromStdString(h.list()->text(row));
        const QString shown = h.list()->shownText(row);
        EXPECT_LE(QFontMetrics(h.list()->font()).horizontalAdvance(shown), h.list()->viewport()->width()) << row;
        EXPECT_TRUE(row == 3 ? shown == whole : shown.startsWith(name.left(8)) && shown.contains(QChar(0x2026)) &&
                                                    shown.endsWith(QStringLiteral("2024.IMG") + suffixes[row]))
            << shown.toStdString();
        const QPoint at = h.list()->entryRect(row).center();
        QToolTip::hideText();
        QHelpEvent hover(QEvent::ToolTip, at, h.list()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(h.list()->viewport(), &hover);
        QTextDocument tip;
        tip.setHtml(QToolTip::text());
        EXPECT_EQ(tip.toPlainText() == whole, row != 3) << "a shortened entry's tooltip is the whole entry";
    }
}

TEST(MainWindow, TabArrowsSpaceAClickAndEnterDoWhatTheySay)
{
    Harness h;
    h.show();
    h.list()->setFocus();
    for (QWidget* expected : {h.batch(1), h.child("cmd_Mark"), h.batch(0), h.child("cmd_nomark"), h.child("lst")}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << QApplication::focusWidget()->objectName().toStdString();
    }

    for (const char* text : {"A", "B", "C"}) {
        h.window.qtUi().listAdd(text);
    }
    h.window.qtUi().listFocus(0);
    h.list()->setMarked(1, true);
    const QImage look = h.list()->viewport()->grab().toImage();
    const auto row = [&](int entry, bool middle) {  // a pixel row of the entry right of its text
        const QRect r = h.list()->entryRect(entry);
        return look.copy(r.center().x(), middle ? r.center().y() : r.top(), r.width() / 2 - 1, 1);
    };
    EXPECT_EQ(row(0, true), row(2, true)) << "the current entry is not filled";
    EXPECT_NE(row(0, false), row(2, false)) << "but framed";
    EXPECT_NE(row(1, true), row(2, true)) << "a marked one is filled";
    h.list()->setMarked(1, false);
    const std::pair<Qt::Key, Entries> keys[] = {{Qt::Key_Down, {"A", "B", "C"}},     {Qt::Key_Down, {"A", "B", "C"}},
                                                {Qt::Key_Space, {"A", "B", "C *"}},  {Qt::Key_Up, {"A", "B", "C *"}},
                                                {Qt::Key_Space, {"A", "B *", "C *"}}, {Qt::Key_Space, {"A", "B", "C *"}}};
    for (const auto& [key, entries] : keys) {
        QTest::keyClick(h.list(), key);
        EXPECT_EQ(h.entries(), entries) << "after key " << key;
    }
    const QPoint first = h.list()->entryRect(0).center();
    QTest::mouseClick(h.list()->viewport(), Qt::LeftButton, {}, first);
    EXPECT_EQ(h.entries(), (Entries{"A *", "B", "C *"}));
    QTest::mouseClick(h.list()->viewport(), Qt::LeftButton, {}, first);
    EXPECT_EQ(h.entries(), (Entries{"A", "B", "C *"}));

    for (const auto& [key, mods] : {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
        h.child("cmd_Mark")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), key, mods);
        EXPECT_EQ(h.entries(), (Entries{"A *", "B *", "C *"})) << "key " << key;
        h.child("cmd_nomark")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), key, mods);
        EXPECT_EQ(h.entries(), (Entries{"A", "B", "C"})) << "key " << key;
    }
}

TEST(MainWindow, EveryWayToPointAtAFolderListsItAndTheWidgetsChangeTheMarkedMapsByOneByte)
{
    const QString home = QDir::currentPath();
    const auto drop = [](Harness& h, const QUrl& url) {
        QMimeData data;
        data.setUrls({url});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        return QApplication::sendEvent(&h.window, &enter) && enter.isAccepted() &&
               QApplication::sendEvent(&h.window, &dropped) && dropped.isAccepted();
    };
    enum How { Dialog, AtStart, Drop };
    const struct {
        const char* what;
        How how;
        std::string name;  // in the folder; relative to it at start, "" for the folder itself
    } rows[] = {{"any file chosen through the dialog", Dialog, "a.img"},
                {"the folder given at start", AtStart, ""},
                {"a file name in the working folder given at start", AtStart, "B.IMG"},
                {"a dropped file", Drop, "B.IMG"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        testing::TempDir dir;  // a.img opaque, B.IMG transparent, C.IMG masked and opaque, and notes.txt, no map
        std::map<std::string, testing::Bytes> put;
        testing::putFiles(dir, "a.img=o B.IMG=t C.IMG=m notes.txt=txt", put);
        const std::string shown = QString::fromStdString(dir.path()).toUpper().toStdString();
        ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path())));
        Harness h;
        h.window.qtUi().setChooseFileHook([&] { return std::optional<std::string>(dir.file(row.name)); });
        const std::string folder = dir.path().substr(0, dir.path().size() - 1);  // without its final separator
        h.window.listAtStart(row.how != AtStart ? "" : row.name.empty() ? folder : row.name);
        h.show();
        if (row.how == Dialog) {
            h.action("mn_Datei")->trigger();
        } else if (row.how == Drop) {
            EXPECT_FALSE(drop(h, QUrl(QStringLiteral("https://example.org/A.IMG")))) << "only local files";
            EXPECT_TRUE(drop(h, QUrl::fromLocalFile(QString::fromStdString(dir.file(row.name)))));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return h.list()->count() == 3; }));
        EXPECT_EQ(h.entries(), (Entries{"A.IMG  < >", "B.IMG  <T>", "C.IMG  < >"}));
        EXPECT_EQ(h.caption(), "Pfad " + shown + " hat 3 Dateien");
        ASSERT_EQ(h.messages.size(), 2U);
        EXPECT_TRUE(h.messages[0].title == shell::kInfoTitle && h.during[0].second == 0) << "info box, then the listing";
        EXPECT_EQ(h.messages[1].prompt, "Datei " + shown + "NOTES.TXT ist keine IMG  ");
        EXPECT_TRUE(h.during[1].first && h.child("lbl_Warten")->isHidden()) << "shown while the folder is listed";

        Entries marked = {"A.IMG  < >", "B.IMG  <T>", "C.IMG  < >"};
        marked[row.name == "B.IMG" ? 1 : 0] += " *";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(h.entries(), marked) << "the focus is on the tile chosen, given or dropped (else the first): Space marks it";
        QTest::mouseClick(h.child("cmd_Mark"), Qt::LeftButton);
        QTest::mouseClick(h.batch(1), Qt::LeftButton);
        ASSERT_EQ(h.messages.size(), 4U);
        EXPECT_EQ(h.messages[2].prompt, "Transparenz-Änderung beendet ... (finished)");
        EXPECT_EQ(h.entries(), (Entries{"A.IMG  <T>", "B.IMG  <T>", "C.IMG  <T>"}));
        EXPECT_EQ(testing::readFile(dir.file("a.img")), TileBuilder::kind("t")) << "only the flag byte changed";
        EXPECT_EQ(testing::readFile(dir.file("notes.txt")), TileBuilder::kind("txt")) << "no map, untouched";
        h.window.qtUi().setChooseFileHook([]() -> std::optional<std::string> { return std::nullopt; });
        h.action("mn_Datei")->trigger();
        EXPECT_EQ(h.entries(), (Entries{"A.IMG  <T>", "B.IMG  <T>", "C.IMG  <T>"})) << "Cancel lists the folder again";
        EXPECT_EQ(h.messages.back().prompt, "Datei " + shown + "NOTES.TXT ist keine IMG  ");
        if (row.how == AtStart && row.name.empty()) {
            h.window.qtUi().setChooseFileHook({});
            QString opened;
            withUser<QFileDialog>([&] { h.action("mn_Datei")->trigger(); }, [&](QFileDialog* dialog) {
                opened = dialog->directory().absolutePath() + QLatin1Char('/');
                dialog->reject();
            });
            EXPECT_EQ(opened.toStdString(), dir.path()) << "the dialog opens inside the folder given at start";
        }
    }
    QDir::setCurrent(home);
}

}  // namespace
}  // namespace ks::ui
