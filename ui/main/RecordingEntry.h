#pragma once
// One recording of the recordings list, kept by the list under its id.

#include <QString>

#include <cstdint>

struct RecordingEntry {
    int id = 0;        // unique within one run of the program, never reused
    QString fileName;  // the file's name without folder
    QString folder;    // the folder it was found in or recorded to
    QString fullPath;  // folder + "/" + fileName; the only field the entry's buttons use
    int64_t size = 0;  // bytes, as shown in the entry
};
