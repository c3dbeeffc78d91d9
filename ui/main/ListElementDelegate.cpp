#include "ListElementDelegate.h"

#include <QWidget>

void ListElementDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex& /*index*/) const
{
    if (editor)
        editor->setGeometry(option.rect);
}
