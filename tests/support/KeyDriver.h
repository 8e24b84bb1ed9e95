#pragma once
// Front-panel keys for screen tests. Screens act on key release; every key exists under two
// Qt codes (variant 0: the letter code, variant 1: the panel code), and tests should use
// both. Keys go to the current screen: the top modal dialog (a screen running exec()),
// else the visible top-level window shown last, else the active window.
//
// Nested modal loops: a key that opens a modal screen does not return until that screen
// closes, so whatever the test wants to do inside it is scheduled BEFORE the key with
// whenModal(...), which runs it once the new modal loop is spinning:
//
//     kel_test::whenModal([](QWidget* screen) {
//         kel_test::grab(screen, "option-menu");
//         kel_test::pressKey(kel_test::PanelKey::Back);   // closes it; exec() returns
//     });
//     kel_test::pressKey(kel_test::PanelKey::Ok);          // opens the modal screen
#include <QWidget>
#include <functional>
#include <initializer_list>

namespace kel_test {

enum class PanelKey { Left, Right, Ok, Back, Mode };

// The Qt key code of a panel key: variant 0 the letter (S R Q O M), 1 the panel code.
int keyCode(PanelKey key, int variant = 0);

// The widget that receives keys now (see above); null when nothing is shown.
QWidget* currentScreen();
// Overrides how currentScreen() is found (null restores the default).
void setScreenResolver(std::function<QWidget*()> resolver);

// Sends the press and the release of a Qt key code to target (currentScreen() when null),
// then runs the posted events. Returns false when there was no target.
bool sendKey(int qtKey, QWidget* target = nullptr);
bool pressKey(PanelKey key, int variant = 0, QWidget* target = nullptr);
// Several keys in a row; each goes to the screen current at that moment.
void pressKeys(std::initializer_list<PanelKey> keys, int variant = 0);

// Runs fn(modal) inside the next modal loop that starts after this call (the modal widget
// must differ from the one active now). Gives up with a test failure when no such loop
// starts within `turns` event-loop turns.
void whenModal(std::function<void(QWidget*)> fn, int turns = 5000);

// Starts following which top-level windows are shown (for currentScreen), and guarding
// against a modal screen left open: one whose loop runs limit ms (10 s unless set; 0 sets
// it back) with no key, tick, settle or whenModal action fails the test, naming the screen,
// and is closed. Every test program calls it at its start.
void watchWindows();
void stillWorking();
void setModalLimit(int ms);

// Runs the events that are waiting, including deferred deletions.
void settle();

} // namespace kel_test
