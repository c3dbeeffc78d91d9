#include "LogSetup.h"

#include "TextUtil.h"

#include <glog/logging.h>

void InitLogging(const QString& logFolder)
{
    static const std::string prefix = WideToAnsi(logFolder + "/log.");
    FLAGS_logtostderr = false;
    FLAGS_alsologtostderr = false;
    FLAGS_stderrthreshold = google::GLOG_FATAL + 1; // nothing to standard error
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 10;
    FLAGS_stop_logging_if_full_disk = true;
    if (!google::IsGoogleLoggingInitialized())
        google::InitGoogleLogging("TamsuAudioRecorder");
    // Informational receives every severity; the other levels get no files of their own.
    google::SetLogDestination(google::GLOG_INFO, prefix.c_str());
    google::SetLogDestination(google::GLOG_WARNING, "");
    google::SetLogDestination(google::GLOG_ERROR, "");
    google::SetLogDestination(google::GLOG_FATAL, "");
    google::SetLogSymlink(google::GLOG_INFO, "");
    google::SetLogFilenameExtension("");
}
