#pragma once
// Helpers around skin controls: lookup by name with logging, tags, list elements.
// Thread: UI thread only.

#include <QRegion>
#include <QSize>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <typeinfo>

class QListWidget;

// The widget named name below root (root itself included); nullptr when there is none. A missing
// control is logged with the skin file and the name. Never throws.
QWidget* FindControlWidget(const QWidget* root, const QString& name, const QString& skinFile);

// Logs that the control exists but is not of the expected class.
void ReportWrongControlClass(const QWidget* control, const QString& skinFile, const char* expected);

// FindControlWidget, and the control must be a T (a QWidget class); otherwise logged and nullptr.
template <class T>
T* FindControlIn(const QWidget* root, const QString& name, const QString& skinFile)
{
    QWidget* widget = FindControlWidget(root, name, skinFile);
    if (!widget)
        return nullptr;
    T* control = dynamic_cast<T*>(widget);
    if (!control) {
        if constexpr (requires { T::staticMetaObject.className(); })
            ReportWrongControlClass(widget, skinFile, T::staticMetaObject.className());
        else
            ReportWrongControlClass(widget, skinFile, typeid(T).name());
    }
    return control;
}

// A number kept with a control (the list element id of an entry's buttons, for instance).
void SetControlTag(QWidget* control, std::uintptr_t tag);
std::uintptr_t GetControlTag(const QWidget* control); // 0 when none was set

// Appends element as a new row of list; the list owns it from then on. The row is as tall as
// the element's size hint.
void AppendListElement(QListWidget* list, QWidget* element);

// Removes the row that shows element and deletes element once the current event is handled, so
// this may be called from a notification sent by a control inside the element. False when no
// row shows it.
bool RemoveListElement(QListWidget* list, QWidget* element);

// The region of a w × h window with corners rounded to radius (at most half the shorter side);
// the whole rectangle for radius <= 0.
QRegion RoundedWindowRegion(const QSize& size, int radius);
