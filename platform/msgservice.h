#pragma once
// The one way every part of the system shows a message box.
//
// The box is described by its text, caption and the classic message-box type bits (buttons and
// icon); the answer is the button pressed. Who shows it is decided at run time, in this order:
//   1. a handler the client program installed (VardexSetMessageHandler, or a test's recorder);
//   2. the widget layer's QMessageBox presenter, when that layer is linked and a display exists;
//   3. standard error, answering as if the default button (OK / Yes) was pressed.
#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace vardex {

namespace mb {
// Buttons
constexpr uint32_t Ok = 0x0;
constexpr uint32_t OkCancel = 0x1;
constexpr uint32_t YesNoCancel = 0x3;
constexpr uint32_t YesNo = 0x4;
// Icons
constexpr uint32_t IconError = 0x10;
constexpr uint32_t IconQuestion = 0x20;
constexpr uint32_t IconWarning = 0x30;
constexpr uint32_t IconInformation = 0x40;
constexpr uint32_t ButtonMask = 0x0F;
constexpr uint32_t IconMask = 0xF0;
// Answers
constexpr int IdOk = 1;
constexpr int IdCancel = 2;
constexpr int IdYes = 6;
constexpr int IdNo = 7;
} // namespace mb

struct MessageBoxRequest {
    QString text;
    QString caption;
    uint32_t type = mb::Ok;
    QWidget* owner = nullptr; // nullptr: no owner window
};

using MessageHandler = std::function<int(const MessageBoxRequest&)>;

// Shows a box and returns the button pressed.
int showMessage(const QString& text, const QString& caption, uint32_t type, QWidget* owner = nullptr);

// A warning that asks nothing and must not stop the person at work: it goes to the client's
// handler as a warning box with an OK button when one is installed, else to standard error
// (never to a window of the widget layer).
void notifyWarning(const QString& text, const QString& caption);

// Installs the handler that takes every box (an empty handler removes it).
void setMessageHandler(MessageHandler handler);
// Installed once by the widget layer: shows real boxes when a display is there.
void setMessagePresenter(MessageHandler presenter);

// The answer a box gives when nobody can press a button: OK, or Yes where there is no OK.
int defaultAnswer(uint32_t type);

} // namespace vardex
