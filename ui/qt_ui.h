// The window's services on Qt: message boxes, the open-file dialog, the
// multi-selection list, the caption, the wait label and event processing.
#pragma once

#include <QLabel>
#include <QWidget>
#include <functional>

#include "platform/ui.h"
#include "widgets.h"

namespace ks::ui {

// Makes Qt's own texts (the file dialog, the standard buttons) German, like
// the window's; false when Qt's German translations are not installed.
bool installGermanQtTexts();

class QtUi final : public platform::Ui {
public:
    // window: parent of the boxes and owner of the caption; list and wait label of that window.
    QtUi(QWidget* window, EntryList* list, QLabel* waitLabel);

    platform::Answer messageBox(const platform::Message& message) override;
    std::optional<std::string> chooseFile(const std::vector<platform::FileFilter>& filters,
                                          std::size_t preselectedFilter, const std::string& current) override;
    void listClear() override;
    void listAdd(const std::string& text) override;
    std::size_t listCount() const override;
    std::string listText(std::size_t i) const override;
    bool listMarked(std::size_t i) const override;
    void listSetMarked(std::size_t i, bool marked) override;
    void listSetAllMarked(bool marked) override;
    void listFocusFirst() override;
    void setCaption(const std::string& caption) override;
    void setWaitVisible(bool visible) override;
    void processEvents() override;
    std::string toUpper(const std::string& text) const override;

    // Replaces the message boxes, e.g. in tests; an empty function restores them.
    void setMessageHook(std::function<platform::Answer(const platform::Message&)> hook);
    // Replaces the open-file dialog, e.g. in tests; an empty function restores it.
    void setChooseFileHook(std::function<std::optional<std::string>()> hook);

    // Qt's name filter for a filter: "*.*" matches every name, letters match in any case.
    static QString nameFilter(const platform::FileFilter& filter);

private:
    QWidget* window_;
    EntryList* list_;
    QLabel* waitLabel_;
    std::function<platform::Answer(const platform::Message&)> messageHook_;
    std::function<std::optional<std::string>()> chooseFileHook_;
};

}  // namespace ks::ui
