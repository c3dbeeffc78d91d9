#include "FolderPathField.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// The text box inside the frame and Qt's own inner margins of a line edit (2 px each side).
constexpr int kInnerMargin = 4;

} // namespace

FolderPathField::FolderPathField(QLineEdit* field)
    : QObject(field)
    , field_(field)
{
    field->installEventFilter(this);
}

void FolderPathField::Show(QLineEdit* field, const QString& folder)
{
    if (!field)
        return;
    auto* shown = field->findChild<FolderPathField*>(QString(), Qt::FindDirectChildrenOnly);
    if (!shown)
        shown = new FolderPathField(field);
    shown->folder_ = folder;
    field->setToolTip(folder);
    shown->Elide();
}

QString FolderPathField::Folder(const QLineEdit* field)
{
    const auto* shown = field ? field->findChild<FolderPathField*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    return shown ? shown->folder_ : QString();
}

bool FolderPathField::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == field_ && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange ||
                              event->type() == QEvent::StyleChange))
        Elide();
    return false;
}

void FolderPathField::Elide()
{
    QStyleOptionFrame option;
    option.initFrom(field_);
    const QRect box = field_->style()->subElementRect(QStyle::SE_LineEditContents, &option, field_);
    const QMargins margins = field_->textMargins();
    const int width = box.width() - margins.left() - margins.right() - kInnerMargin;
    field_->setText(width > 0 ? field_->fontMetrics().elidedText(folder_, Qt::ElideMiddle, width) : folder_);
    field_->setCursorPosition(0);
}
