#include "DesktopOpen.h"

#include "PromptBoxDialog.h"

#include <QDesktopServices>
#include <QUrl>

#include <glog/logging.h>

namespace {

// The notice's box: both texts in one line.
constexpr int kNoticeWidth = 250;
constexpr int kNoticeHeight = 100;

} // namespace

bool OpenWithDesktop(QWidget* parent, const QUrl& url)
{
    if (url.isValid() && QDesktopServices::openUrl(url))
        return true;
    LOG(ERROR) << "nothing on this desktop opens \"" << url.toString().toStdString() << "\"";
    PromptBoxDialog::Show(parent, QString::fromUtf8(url.isLocalFile() ? kNoProgramText : kNoBrowserText),
                          kNoticeWidth, kNoticeHeight);
    return false;
}
