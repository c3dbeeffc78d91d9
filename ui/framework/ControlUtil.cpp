#include "ControlUtil.h"

#include <QListWidget>
#include <QVariant>

#include <algorithm>
#include <cmath>

#include <glog/logging.h>

namespace {

// Dynamic property holding a control's tag.
constexpr const char* kTagProperty = "tag";

} // namespace

QWidget* FindControlWidget(const QWidget* root, const QString& name, const QString& skinFile)
{
    if (!root) {
        LOG(ERROR) << "skin: control \"" << name.toStdString() << "\" looked up in skin file \""
                   << skinFile.toStdString() << "\", which is not loaded";
        return nullptr;
    }
    if (root->objectName() == name)
        return const_cast<QWidget*>(root);
    QWidget* control = root->findChild<QWidget*>(name);
    if (!control)
        LOG(ERROR) << "skin: control \"" << name.toStdString() << "\" not found in skin file \""
                   << skinFile.toStdString() << "\"";
    return control;
}

void ReportWrongControlClass(const QWidget* control, const QString& skinFile, const char* expected)
{
    LOG(ERROR) << "skin: control \"" << control->objectName().toStdString() << "\" in skin file \""
               << skinFile.toStdString() << "\" is a " << control->metaObject()->className() << ", not a "
               << expected;
}

void SetControlTag(QWidget* control, std::uintptr_t tag)
{
    if (control)
        control->setProperty(kTagProperty, QVariant::fromValue<qulonglong>(tag));
}

std::uintptr_t GetControlTag(const QWidget* control)
{
    return control ? static_cast<std::uintptr_t>(control->property(kTagProperty).toULongLong()) : 0;
}

void AppendListElement(QListWidget* list, QWidget* element)
{
    if (!list || !element)
        return;
    auto* item = new QListWidgetItem(list);
    item->setSizeHint(element->sizeHint());
    list->setItemWidget(item, element);
}

bool RemoveListElement(QListWidget* list, QWidget* element)
{
    if (!list || !element)
        return false;
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem* item = list->item(row);
        if (list->itemWidget(item) != element)
            continue;
        // Deleted later: a control inside it may be the sender of the notification being handled.
        element->hide();
        element->deleteLater();
        delete list->takeItem(row);
        return true;
    }
    return false;
}

QRegion RoundedWindowRegion(const QSize& size, int radius)
{
    const int w = size.width();
    const int h = size.height();
    radius = std::min(radius, std::min(w, h) / 2);
    if (radius <= 0)
        return QRegion(0, 0, std::max(w, 0), std::max(h, 0));
    QRegion region(0, radius, w, h - 2 * radius);
    for (int y = 0; y < radius; ++y) {
        // Inset of row y measured at the row's middle, so the corners are symmetric.
        const double dy = radius - y - 0.5;
        const int inset = static_cast<int>(std::lround(radius - std::sqrt(double(radius) * radius - dy * dy)));
        region += QRect(inset, y, w - 2 * inset, 1);
        region += QRect(inset, h - 1 - y, w - 2 * inset, 1);
    }
    return region;
}
