#pragma once
// What the settings and maintenance screens share: a 320 x 240 dialog with its title, an
// optional row of entries that Left and Right walk with the focus frame and OK opens, Back
// that returns to the screen it was opened from, and the mode key's shortcut to the
// user-mode screen that closes the menu chain beneath. Each screen class names its own
// texts, entries and way back.

#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>
#include <vector>

class QLabel;
class QPushButton;

class SettingsScreen : public QDialog {
    Q_OBJECT
public:
    // Re-sets every text of the screen for the current language.
    virtual void language_changed() = 0;
    // The refresh while the screen's page is current: a language change is taken in, and a
    // screen that shows what a PC can change redraws it.
    virtual void syncUpdate();
    // The back operation: closes the screen, clears its pointer, re-runs the opener's
    // language_changed and makes the opener's page current again.
    virtual void slot_Button_back_clicked();

    // Back to the screen on page `page` (5 settings, 6 output, 10 communication, 11 image
    // quality, 12 advanced settings): screen closes (deleted after its event), the opener's
    // language_changed runs and its page is current again.
    static void return_to(QDialog* screen, int page);
    // For the mode key: the menus open beneath a screen opened from page `page` close.
    static void close_chain(int page);

    QLabel* label_title = nullptr;
    std::vector<QPushButton*> menulist;
    unsigned char ui_select = 0;
    QWidget* focus_widget = nullptr;
    QString style_normal;
    QString style_focus;
    kel_keyboard keyboard;

protected:
    // opener_page: the page of the screen this one is opened from.
    SettingsScreen(const char* objectName, int opener_page, QWidget* parent = nullptr);
    const int opener_page;

    // The title in the current language, fitted to its label.
    void set_title(const QString& text);
    // A large menu entry at the given place; entries join the focus list in the order made.
    QPushButton* add_entry(const char* objectName, int x, int y, int w, int h);
    // Gives the first entry the focus.
    void menulist_init();
    // Sets an entry's text fitted to it.
    static void set_entry_text(QPushButton* entry, const QString& text, double points = 9);

    // OK on the focused entry.
    virtual void open_entry(int index);
    // Clears the screen's global pointer when it points to this screen.
    virtual void clear_pointer() = 0;

    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // A key the screen handles itself before the common handling; true when consumed.
    virtual bool screen_key(int code);
};
