#pragma once
// What the three standard dialogs share: the window font, the flat buttons, the password boxes,
// the application's general error report and the key that leaves a window.
#include <QString>
#include <cstdint>
#include <exception>

class QDateTimeEdit;
class QDialog;
class QFont;
class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;

namespace vardex::dialogs {

// 宋体 9 pt (12 pixels high), with the fonts of this machine that carry the same characters.
QFont windowFont();

// Fixed single border, system menu and minimise box only.
void makeFixedDialog(QDialog* window, int clientWidth, int clientHeight, const QString& title);
// Centres the window on the screen it will be shown on.
void centreOnScreen(QWidget* window);

// A caption (label or button text, accelerator marks aside) wider than `room` pixels, as a
// translation longer than the Chinese text can be, is drawn in a smaller font, down to 9 pixels;
// a caption that fits keeps its font.
void fitCaption(QWidget* widget, int room);
// A label whose right edge passes `rightEdge` (it would run into the box it names) is moved left
// so that it ends there, starting no further left than `minLeft`, and fitted into that room. In
// Chinese nothing moves: the captions stand where the classic layout puts them.
void fitLeftOf(QLabel* label, int rightEdge, int minLeft);
// The room a caption of another language leaves between its text and the box it names.
constexpr int kCaptionClearance = 4;

// A flat button that takes no focus, so there is no default button.
QToolButton* flatButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                        int h);
// A click in a date box selects the section clicked (year, month or day), so that what is typed
// next replaces it: clicking the year and typing 2099 gives 2099, as in the date boxes people
// know from other programs (Qt only places the cursor, and a fifth digit is refused).
void selectSectionOnClick(QDateTimeEdit* edit);
// An edit box whose echo character is '*'.
void setStarEcho(QLineEdit* edit);

// The application's general error report: an error that a window does not handle itself is
// shown to the operator with the error's text and a stop icon; the window stays as it was.
void reportError(const std::exception& error, QWidget* owner = nullptr);

// The type of an input error's box (caption "错误", OK only): no icon in Chinese, as the
// classic windows show it; in English the warning icon the windows' other boxes carry.
uint32_t inputErrorBox();

// Throws unless windows can be shown (the process has a widget application).
void requireDisplay();

} // namespace vardex::dialogs
