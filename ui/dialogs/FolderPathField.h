#pragma once
// FolderPathField: a read-only line edit that shows a folder. A path too long for the field is
// shortened in the middle ("/home/ana/…/TAMSU电脑录音"), so that both its start and the folder's
// own name stay readable; the tip shows the whole path, and so does Folder(). The shortening
// follows the field's width as the layout changes it.
//
//   FolderPathField::Show(savePath_, folder);
//   const QString folder = FolderPathField::Folder(savePath_);
//
// Thread: UI thread.

#include <QObject>
#include <QString>

class QLineEdit;

class FolderPathField : public QObject {
    Q_OBJECT
public:
    // Shows folder in field (nothing when field is null).
    static void Show(QLineEdit* field, const QString& folder);
    // The whole folder shown in field; empty when none was shown.
    static QString Folder(const QLineEdit* field);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FolderPathField(QLineEdit* field);
    void Elide();

    QLineEdit* field_; // the parent
    QString folder_;
};
