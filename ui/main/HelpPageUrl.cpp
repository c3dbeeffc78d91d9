#include "HelpPageUrl.h"

#include "HttpClient.h"

#include "DesktopOpen.h"

#include <glog/logging.h>

namespace {

constexpr const char* kHelpPath = "/help";

} // namespace

QUrl HelpPageUrl()
{
    return QUrl(QString::fromStdString(ServiceUrl(kHelpPath)));
}

bool OpenHelpPage(QWidget* parent)
{
    return OpenWithDesktop(parent, HelpPageUrl());
}
