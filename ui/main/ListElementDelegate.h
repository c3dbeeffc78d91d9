#pragma once
// ListElementDelegate: the item delegate of a list whose rows are element widgets. Each element
// covers its whole row, so placing it is a plain setGeometry; the styled delegate's placement
// asks the style sheet about every row's text area each time the list lays itself out, which
// makes a list of thousands of rows slow to grow.
//
// Thread: UI thread.

#include <QStyledItemDelegate>

class ListElementDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
};
