#pragma once
// A notification from a skin control to its window (WindowImplBase::Notify).

#include <QString>
#include <cstdint>

class QWidget;

// Notification types. What sends them:
//   "click"          a button was clicked (QAbstractButton::clicked, also check boxes and radio buttons)
//   "selectchanged"  a check box, radio button or checkable button changed its state
//                    (wParam: 1 now selected, 0 not); the button being unselected reports first
//   "itemselect"     a combo box selected another entry (wParam: new index, lParam: previous index)
//   "valuechanged"   a slider moved (wParam: the new value)
// The program's own changes of a control (setChecked, setCurrentIndex, setValue) notify too, like
// the user's, except while the window's OnCreate and InitWindow run.
inline constexpr const char* kNotifyClick = "click";
inline constexpr const char* kNotifySelectChanged = "selectchanged";
inline constexpr const char* kNotifyItemSelect = "itemselect";
inline constexpr const char* kNotifyValueChanged = "valuechanged";

struct TNotifyUI {
    QString type;               // one of the kNotify texts
    QWidget* sender = nullptr;  // the control; valid for the duration of Notify
    QString senderName;         // the control's name (objectName = the skin's name attribute)
    std::uintptr_t wParam = 0;  // per type, see above
    std::intptr_t lParam = 0;
};
