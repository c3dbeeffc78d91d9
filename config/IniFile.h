#pragma once
// IniFile: reads and writes one INI file with the rules of the classic profile functions.
//
// Section and key names match case-insensitively; values are trimmed of blanks, and a pair of
// surrounding double quotes is removed on read. Writing keeps every other line of the file as it
// is, creates the file (and the section) on first write, and replaces the file atomically
// (temporary file + rename), so a reader never sees half a file. Writes of all threads of the
// process to the same path are serialised. The file is UTF-8.
//
// Thread-safety: every member is safe to call from any thread.

#include <QString>
#include <cstdint>

class IniFile {
public:
    explicit IniFile(QString path);

    // The stored value of section/key, or nothing when the file, section or key is missing.
    bool Lookup(const QString& section, const QString& key, QString& value) const;

    // Profile "int" semantics: default when missing; otherwise the leading decimal digits (an
    // optional minus sign gives the two's complement); 0 when the text does not start with a digit.
    uint32_t ReadInt(const QString& section, const QString& key, int32_t defaultValue) const;

    // Profile "string" semantics: the value (or the default) cut to capacity - 1 characters;
    // true when at least one character was copied.
    bool ReadString(const QString& section, const QString& key, const QString& defaultText,
                    QString& out, int capacity) const;

    // Sets section/key to value; true when the file was written.
    bool WriteString(const QString& section, const QString& key, const QString& value);

    const QString& Path() const { return path_; }

private:
    // The profile functions' reading of a number.
    static uint32_t ParseProfileInt(const QString& text);

    QString path_;
};
